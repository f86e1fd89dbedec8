// Sign-ins through the plug-in's real dialog: an emulated host whose headless
// browser follows a script, registered as the process's host. Whatever needs
// a token runs on a thread of its own, so that a dialog that never ends fails
// the test instead of hanging it.
#pragma once

#include "host/emulated_host.h"
#include "plugin/host_instance.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <utility>

namespace gd::test {

inline constexpr DWORD kSignInDeadline = 30000;

class HostSignIn {
public:
    HostSignIn() {
        MakeObject(&m_host);
        m_host->SetCallTimeout(kSignInDeadline);
        HostInstance::Fill(m_host.Get());
    }
    ~HostSignIn() {
        HostInstance::Clear();
        m_host.Reset();
    }
    HostSignIn(const HostSignIn&) = delete;
    HostSignIn& operator=(const HostSignIn&) = delete;

    EmulatedHost& Host() { return *m_host.Get(); }

    // Runs work (which may show the sign-in dialog) on another thread and
    // waits; past the deadline the open dialogs are closed and the test fails.
    template <class Work> HRESULT Run(Work&& work) {
        auto done = std::async(std::launch::async, std::forward<Work>(work));
        if (done.wait_for(std::chrono::milliseconds(kSignInDeadline)) !=
            std::future_status::ready) {
            ADD_FAILURE() << "the sign-in dialog did not end";
            m_host->OnUi([this] { return m_host->Uix().CancelModalDialogs(), S_OK; });
        }
        return done.get();
    }

private:
    ComPtr<EmulatedHost> m_host;
};

} // namespace gd::test
