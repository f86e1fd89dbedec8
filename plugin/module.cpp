#include "plugin/module.h"

#include "errors/registry.h"
#include "http/status_texts.h"

namespace gd {

void InitModule() {
    RegisterPluginErrors();
    RegisterInetUtilsErrors();
}

void UninitModule() {
    UnregisterInetUtilsErrors();
    UnregisterPluginErrors();
}

} // namespace gd
