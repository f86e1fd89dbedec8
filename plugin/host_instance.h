// The process-wide record of the host: its instance interface and the "AFS"
// and "UIX" extensions. Init fills it, Uninit clears it; everything else
// reads it through the accessors.
#pragma once

#include "plugin/sdk/lumo.h"

namespace gd {

class HostInstance {
public:
    // The host instance as handed to Init (held without a reference); null
    // before Init and after Uninit.
    static Lumo::ILumoInstance* Instance();
    static Lumo::IAfsInstance* Afs();
    static Lumo::IUixInstance* Uix();
    // True on the host's UI thread (the thread of its main window); false
    // without a host.
    static bool OnUiThread();

    // Keeps host unless an instance is already held (the first Init wins),
    // then fetches the extensions; a missing extension stays null.
    static void Fill(Lumo::ILumoInstance* host);
    // Forgets the host and releases the extensions.
    static void Clear();
};

} // namespace gd
