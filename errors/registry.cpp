#include "errors/registry.h"

#include "errors/codes.h"
#include "errors/common_table.h"
#include "errors/critical_section.h"
#include "errors/growth.h"

#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace gd {
namespace {

struct Subsystem {
    unsigned number;
    const ErrorRow* rows;
    std::size_t count;
    const char* name;
};

const ErrorRow kIoRows[] = {
    {0x1001, "Unexpected error reading from file"},
    {0x1002, "Unexpected error writing to file"},
};
const ErrorRow kFrameBufferRows[] = {
    {0x1001, "Too many rectangles requested"},
    {0x1002, "Rectangle intersects with another one"},
    {0x1003, "Error accessing temporary file"},
};

// Failed calls of the transport whose text the system may not have (the
// networking library's own table is not everywhere): read after the system's
// message, before the common table.
const ErrorRow kOperatingSystemRows[] = {
    {ERROR_INTERNET_TIMEOUT, "The request to the server timed out"},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name could not be resolved"},
    {ERROR_INTERNET_CANNOT_CONNECT, "The connection to the server could not be made"},
    {ERROR_INTERNET_CONNECTION_ABORTED, "The connection with the server was ended"},
    {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset"},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID,
     "The server's certificate has expired or is not valid yet"},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, "The server's certificate was issued for another name"},
    {ERROR_INTERNET_INVALID_CA,
     "The server's certificate comes from an authority that is not trusted"},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server's answer could not be understood"},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "A secure connection to the server could not be made"},
};

const char* const kSeverityNames[] = {"Success", "Warning", "Error", "Failure"};

// Records sorted by number; built-ins arrive with the first registration.
class Registry {
public:
    void Register(const Subsystem& subsystem) {
        SectionLock lock(m_section);
        if (m_builtins_pending) {
            m_builtins_pending = false;
            Insert({kSubsystemIo, kIoRows, std::size(kIoRows), "IO subsystem"});
            Insert({kSubsystemCommon, nullptr, 0, "Common"});
            Insert({13, kFrameBufferRows, std::size(kFrameBufferRows), "Frame buffer"});
            Insert({1, nullptr, 0, "Memory subsystem"});
            Insert({kSubsystemOperatingSystem, kOperatingSystemRows,
                    std::size(kOperatingSystemRows), "Operating system"});
        }
        Insert(subsystem);
    }

    void Unregister(unsigned number) {
        SectionLock lock(m_section);
        std::size_t at = LowerBound(number);
        if (at < m_records.size() && m_records[at].number == number)
            m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(at));
    }

    // Copies the record out under the lock; the tables themselves are static.
    bool Find(unsigned number, Subsystem& found) {
        SectionLock lock(m_section);
        std::size_t at = LowerBound(number);
        if (at >= m_records.size() || m_records[at].number != number)
            return false;
        found = m_records[at];
        return true;
    }

private:
    std::size_t LowerBound(unsigned number) const {
        std::size_t low = 0, high = m_records.size();
        while (low < high) {
            std::size_t mid = (low + high) / 2;
            if (m_records[mid].number < number)
                low = mid + 1;
            else
                high = mid;
        }
        return low;
    }

    void Insert(const Subsystem& subsystem) {
        std::size_t at = LowerBound(subsystem.number);
        if (at < m_records.size() && m_records[at].number == subsystem.number)
            return;
        Grow(m_records.size() + 1);
        m_records.insert(m_records.begin() + static_cast<std::ptrdiff_t>(at), subsystem);
    }

    void Grow(std::size_t needed) {
        m_records.reserve(GrownCapacity(m_records.capacity(), needed));
    }

    CriticalSection m_section;
    std::vector<Subsystem> m_records;
    bool m_builtins_pending = true;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text; ++text)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    return wide;
}

const char* FindRow(const ErrorRow* rows, std::size_t count, unsigned code) {
    for (std::size_t i = 0; i < count; ++i) {
        if ((rows[i].code & 0xFFFFu) == code)
            return rows[i].text;
    }
    return nullptr;
}

bool FormatFrom(DWORD flags, HMODULE module, DWORD id, DWORD language, std::wstring& text) {
    wchar_t buffer[1024];
    DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_IGNORE_INSERTS, module, id, language,
                                  buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    if (length == 0)
        return false;
    text.assign(buffer, length);
    return true;
}

// The system's message, then those of the networking and media libraries when loaded.
// Returns the name of the table that had the text, or nullptr.
const char* SystemMessage(DWORD id, std::wstring* text) {
    std::wstring scratch;
    std::wstring& out = text ? *text : scratch;
    const DWORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    if (FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, id, neutral, out))
        return "System";
    if (HMODULE wininet = GetModuleHandleW(L"wininet.dll");
        wininet && FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet, id, neutral, out))
        return "WinINet";
    if (HMODULE quartz = GetModuleHandleW(L"quartz.dll");
        quartz && FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, quartz, id, neutral, out))
        return "DirectShow";
    return nullptr;
}

DWORD SystemId(HRESULT code) {
    return SubsystemOf(code) == kSubsystemOperatingSystem ? CodeOf(code) : static_cast<DWORD>(code);
}

bool SubsystemName(HRESULT code, std::wstring& name) {
    Subsystem subsystem{};
    if (IsOwnCode(code) && TheRegistry().Find(SubsystemOf(code), subsystem)) {
        name = Widen(subsystem.name);
        return true;
    }
    const char* table = SystemMessage(SystemId(code), nullptr);
    name = Widen(table ? table : "System");
    return true;
}

const char* RowOf(unsigned number, unsigned code) {
    Subsystem subsystem{};
    if (!TheRegistry().Find(number, subsystem))
        return nullptr;
    return FindRow(subsystem.rows, subsystem.count, code);
}

// A plug-in code that carries an HTTP status (0x1000 + 300..599) reads as the
// transport's text of that status when it has none of its own.
const char* StatusRowOf(HRESULT code) {
    unsigned low = CodeOf(code);
    if (SubsystemOf(code) != kSubsystemPlugin || low < 0x1000 + 300 || low >= 0x1000 + 600)
        return nullptr;
    return RowOf(kSubsystemInetUtils, low);
}

bool Description(HRESULT code, std::wstring& text) {
    if (!IsOwnCode(code))
        return SystemMessage(SystemId(code), &text) != nullptr;
    // A Win32 failure's number is the system's first, whatever the common
    // table holds under it (5 is "access denied", not "file corrupted").
    bool win32 = SubsystemOf(code) == kSubsystemOperatingSystem;
    if (win32 && SystemMessage(SystemId(code), &text) != nullptr)
        return true;
    const char* row = RowOf(SubsystemOf(code), CodeOf(code));
    if (!row)
        row = StatusRowOf(code);
    if (!row)
        row = FindRow(kCommonRows, std::size(kCommonRows), CodeOf(code));
    if (row) {
        text = Widen(row);
        return true;
    }
    return !win32 && SystemMessage(SystemId(code), &text) != nullptr;
}

bool SeverityName(HRESULT code, std::wstring& name) {
    name = Widen(kSeverityNames[SeverityOf(code)]);
    return true;
}

std::wstring UnknownForm(HRESULT code) {
    wchar_t text[40];
    swprintf(text, std::size(text), code < 0 ? L"Unknown error: 0x%08X." : L"Unknown code: 0x%08X.",
             static_cast<unsigned>(code));
    return text;
}

} // namespace

void RegisterSubsystem(unsigned number, const ErrorRow* rows, std::size_t count, const char* name) {
    TheRegistry().Register({number, rows, count, name});
}

void UnregisterSubsystem(unsigned number) {
    TheRegistry().Unregister(number);
}

int GetErrorPart(HRESULT code, int part, wchar_t* buffer, int length) {
    std::wstring text;
    bool found = false;
    switch (part) {
    case kErrorPartSeverity:
        found = SeverityName(code, text);
        break;
    case kErrorPartSubsystem:
        found = SubsystemName(code, text);
        break;
    case kErrorPartDescription:
        found = Description(code, text);
        break;
    }
    if (!found)
        return 0;
    if (buffer && length >= 1) {
        std::size_t copied =
            std::min<std::size_t>(text.size(), static_cast<std::size_t>(length - 1));
        text.copy(buffer, copied);
        buffer[copied] = L'\0';
    }
    return static_cast<int>(text.size());
}

std::wstring DescribeError(HRESULT code, bool brief) {
    if (code == 0)
        return L"Success";
    std::wstring name;
    if (!SubsystemName(code, name))
        return UnknownForm(code);
    std::wstring text;
    if (!brief) {
        SeverityName(code, text);
        if (text.empty() && code < 0)
            text = L"Error";
        if (!text.empty())
            text += L" [" + (name.empty() ? std::wstring(L"Unknown") : name) + L"]: ";
    }
    std::wstring description;
    if (!Description(code, description))
        return text + UnknownForm(code);
    while (!description.empty() && description.back() <= L' ')
        description.pop_back();
    if (description.empty() || description.back() != L'.')
        description += L'.';
    return text + description;
}

std::wstring FormatHResult(HRESULT code) {
    std::wstring message;
    if (!FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(code), 1033, message))
        message = L"<no system error information avaliable>";
    wchar_t head[32];
    swprintf(head, std::size(head), L"HRESULT 0x%.8x: ", static_cast<unsigned>(code));
    return head + message;
}

} // namespace gd
