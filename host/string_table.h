// The host's names and strings: numbers for names (string ids, control ids,
// event names) and the localized texts that plug-ins' string tables add.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <map>
#include <mutex>
#include <string>

namespace gd {

class StringTable {
public:
    // Starts with the host's own strings ("btn.ok", "btn.cancel", the file
    // dialogs' action buttons "dlg.open.actionBtnTitle" and "dlg.save.actionBtnTitle").
    StringTable();

    // Adds a string table document (<Localization>): each <text id="x"> of a
    // <Module namespace="ns"> is known as "ns.x".
    HRESULT Load(IStream* document);

    // The number of a name; a new name gets requested, or the next free
    // number when requested is -1.
    long NameId(const std::wstring& name, long requested = -1);
    // Whether a name has a number yet.
    bool HasName(const std::wstring& name) const;
    // The name of a number; false when no name has it.
    bool NameOf(long number, std::wstring* name) const;

    // The text of a string id; false when unknown.
    bool Find(const std::wstring& id, std::wstring* text) const;
    // A text as the host shows it: "$$$.<id>" becomes the string of <id>
    // (left as it is when the id is unknown), any other text stays.
    std::wstring Resolve(const std::wstring& text) const;

private:
    mutable std::mutex m_lock;
    std::map<std::wstring, std::wstring> m_strings;
    std::map<std::wstring, long> m_numbers;
    std::map<long, std::wstring> m_names;
    long m_next_number = 0x10000;
};

} // namespace gd
