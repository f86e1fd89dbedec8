// Exceptions used inside the plug-in; none crosses an interface boundary.
#pragma once

#include <windows.h>
#include <exception>
#include <string>

namespace gd {

class Exception : public std::exception {
public:
    const char* what() const noexcept override { return "gd::Exception"; }
};

class HResultException : public Exception {
public:
    // An empty message is replaced by the trace text of the code.
    explicit HResultException(HRESULT hr, std::wstring message = {});
    const char* what() const noexcept override { return "gd::HResultException"; }
    const std::wstring& Message() const noexcept { return m_message; }

    HRESULT m_hresult;

private:
    std::wstring m_message;
};

} // namespace gd
