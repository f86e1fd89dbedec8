// The OAuth client the plug-in signs in as, fixed when it is built
// (GDRIVE_CLIENT_ID and GDRIVE_CLIENT_SECRET).
#pragma once

namespace gd {

const wchar_t* BuiltInClientId();
const wchar_t* BuiltInClientSecret();

} // namespace gd
