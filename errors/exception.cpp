#include "errors/exception.h"

#include "errors/registry.h"

#include <utility>

namespace gd {

HResultException::HResultException(HRESULT hr, std::wstring message)
    : m_hresult(hr), m_message(message.empty() ? FormatHResult(hr) : std::move(message)) {}

} // namespace gd
