/* Resource ids of the module; read by the resource compiler and by C++. */
#pragma once

#define GD_RES_MANIFEST 2
#define GD_RES_LAYOUTS 4
#define GD_RES_STRINGS 103
#define GD_RES_ICON_16 106
#define GD_RES_ICON_24 107
#define GD_RES_ICON_32 108
#define GD_RES_ICON_48 109
