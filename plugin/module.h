// Module start and end, called by DllMain and by each test program's main.
#pragma once

namespace gd {

// Registers the error subsystems of the plug-in (34) and the HTTP layer (33).
void InitModule();
void UninitModule();

} // namespace gd
