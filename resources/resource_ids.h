/* Resource ids of the module; read by the resource compiler and by C++. */
#pragma once

#define GD_RES_MANIFEST 2
#define GD_RES_LAYOUTS 4
#define GD_RES_STRINGS 103
#define GD_RES_ICON_16 106
#define GD_RES_ICON_24 107
#define GD_RES_ICON_32 108
#define GD_RES_ICON_48 109
/* The browser sign-in's wait dialog and its texts, apart from the layouts and
   string table above, which stay as they are. */
#define GD_RES_SIGN_IN_LAYOUTS 110
#define GD_RES_SIGN_IN_STRINGS 111
