// Lumo host SDK: everything a plug-in or a host needs.
#pragma once

#include "plugin/sdk/lumo_base.h"
#include "plugin/sdk/lumo_afs.h"
#include "plugin/sdk/lumo_uix.h"
#include "plugin/sdk/lumo_instance.h"
#include "plugin/sdk/lumo_plugin.h"
