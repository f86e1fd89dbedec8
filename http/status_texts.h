// The message table of the HTTP layer's error subsystem (33, "InetUtils").
#pragma once

namespace gd {

void RegisterInetUtilsErrors();
void UnregisterInetUtilsErrors();

} // namespace gd
