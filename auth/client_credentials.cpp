#include "auth/client_credentials.h"

#include "client_credentials_values.h"

namespace gd {

const wchar_t* BuiltInClientId() {
    return GD_BUILT_IN_CLIENT_ID;
}

const wchar_t* BuiltInClientSecret() {
    return GD_BUILT_IN_CLIENT_SECRET;
}

} // namespace gd
