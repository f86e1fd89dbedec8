#include "host/fs_commands.h"

#include "errors/check.h"
#include "host/content_log.h"
#include "host/document_io.h"
#include "http/encoding.h"
#include "plugin/com_ptr.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace gd {
namespace {

// Lines go out as UTF-8, whatever the console's code page.
void PrintLine(const std::wstring& line) {
    std::string text = ToUtf8(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::wstring IsoTime(LONGLONG value) {
    ULARGE_INTEGER parts;
    parts.QuadPart = static_cast<ULONGLONG>(value);
    FILETIME time{parts.LowPart, parts.HighPart};
    SYSTEMTIME utc{};
    if (!FileTimeToSystemTime(&time, &utc))
        return L"?";
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay,
             utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

HRESULT Resolve(Lumo::IAfsFileSystem* fileSystem, const std::wstring& text,
                ComPtr<Lumo::IAfsName>* name) {
    Bstr value;
    RETURN_IF_FAILED(value.Assign(text.c_str()));
    return fileSystem->ResolveName(value.Get(), 0, nullptr, nullptr, nullptr, name->Put());
}

HRESULT NameText(Lumo::IAfsFileSystem* fileSystem, Lumo::IAfsName* name, std::wstring* text) {
    Bstr value;
    RETURN_IF_FAILED(fileSystem->NameToText(name, 0, value.Put()));
    *text = value.Text();
    return S_OK;
}

struct Facts {
    std::wstring title;
    DWORD attributes = 0;
    LONGLONG size = 0;
    LONGLONG created = 0;
    LONGLONG modified = 0;
    std::wstring text;
};

HRESULT ReadFacts(Lumo::IAfsFileSystem* fileSystem, Lumo::IAfsFileInfo* info, Facts* facts) {
    Bstr title;
    RETURN_IF_FAILED(info->get_Title(title.Put()));
    facts->title = title.Text();
    RETURN_IF_FAILED(info->get_Attributes(&facts->attributes));
    RETURN_IF_FAILED(info->get_Size(&facts->size));
    RETURN_IF_FAILED(info->get_CreationTime(&facts->created));
    RETURN_IF_FAILED(info->get_LastWriteTime(&facts->modified));
    ComPtr<Lumo::IAfsName> name;
    RETURN_IF_FAILED(info->get_Name(name.Put()));
    return NameText(fileSystem, name.Get(), &facts->text);
}

// The id in a file's name text ("...open?id=ID"); empty when it has none.
std::wstring IdOf(const std::wstring& text) {
    std::size_t at = text.rfind(L"id=");
    return at == std::wstring::npos ? std::wstring()
                                    : text.substr(at + 3, text.find(L'&', at) - at - 3);
}

} // namespace

HRESULT ListCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& text) {
    ComPtr<Lumo::IAfsName> folder;
    RETURN_IF_FAILED(Resolve(fileSystem, text, &folder));
    ComPtr<Lumo::IAfsEnumFolder> children;
    RETURN_IF_FAILED(fileSystem->EnumFolder(folder.Get(), nullptr, nullptr, children.Put()));
    for (;;) {
        ComPtr<Lumo::IAfsFileInfo> item;
        HRESULT hr = children->Next(item.Put());
        RETURN_IF_FAILED(hr);
        if (hr != S_OK || !item)
            return S_OK;
        Facts facts;
        RETURN_IF_FAILED(ReadFacts(fileSystem, item.Get(), &facts));
        bool isFolder = (facts.attributes & Lumo::AFS_Attribute_Folder) != 0;
        PrintLine(std::wstring(isFolder ? L"D" : L"F") + L"\t" + facts.title + L"\t" +
                  std::to_wstring(facts.size) + L"\t" + IsoTime(facts.modified) + L"\t" +
                  facts.text);
    }
}

HRESULT StatCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& text) {
    ComPtr<Lumo::IAfsName> name;
    RETURN_IF_FAILED(Resolve(fileSystem, text, &name));
    ComPtr<Lumo::IAfsFileInfo> info;
    RETURN_IF_FAILED(fileSystem->GetFileInfo(name.Get(), nullptr, nullptr, info.Put()));
    Facts facts;
    RETURN_IF_FAILED(ReadFacts(fileSystem, info.Get(), &facts));
    wchar_t attributes[16];
    swprintf(attributes, 16, L"0x%08lX", static_cast<unsigned long>(facts.attributes));
    PrintLine(L"title: " + facts.title);
    PrintLine(std::wstring(L"attributes: ") + attributes);
    PrintLine(L"size: " + std::to_wstring(facts.size));
    PrintLine(L"created: " + IsoTime(facts.created));
    PrintLine(L"modified: " + IsoTime(facts.modified));
    PrintLine(L"name: " + facts.text);
    return S_OK;
}

HRESULT GetCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& text,
                   const std::wstring& local, const GetOptions& options) {
    ComPtr<Lumo::IAfsName> name;
    RETURN_IF_FAILED(Resolve(fileSystem, text, &name));
    // From here on: a native document's export comes with the size.
    ContentLog log;
    bool counted = log.Mark() == S_OK;
    ComPtr<Lumo::IAfsFileHandle> handle;
    RETURN_IF_FAILED(fileSystem->Open(name.Get(), Lumo::AFS_Open_Read | Lumo::AFS_Open_OpenExisting,
                                      nullptr, nullptr, handle.Put()));
    LONGLONG size = 0;
    RETURN_IF_FAILED(handle->GetSize(&size, nullptr, nullptr));
    std::wstring nameText;
    RETURN_IF_FAILED(NameText(fileSystem, name.Get(), &nameText));
    LocalFile target;
    RETURN_IF_FAILED(target.Open(local, true));

    std::int64_t total = 0;
    RETURN_IF_FAILED(ReadThroughHandle(
        handle.Get(), options.chunk, options.pattern, size,
        [&](const BYTE* data, DWORD count) { return target.Write(data, count); }, &total));

    // Without the emulator's log there is nothing to count from.
    std::int64_t transferred = 0;
    counted = counted && SUCCEEDED(log.TransferredSince(IdOf(nameText), size, &transferred));
    PrintLine(L"read " + std::to_wstring(total) + L" bytes");
    PrintLine(L"transferred " + (counted ? std::to_wstring(transferred) : L"?") + L" bytes");
    return S_OK;
}

HRESULT PutCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& local,
                   const std::wstring& text, bool overwrite) {
    LocalFile source;
    RETURN_IF_FAILED(source.Open(local, false));
    LONGLONG size = 0;
    RETURN_IF_FAILED(source.Size(&size));
    ComPtr<Lumo::IAfsName> name;
    RETURN_IF_FAILED(Resolve(fileSystem, text, &name));
    DWORD flags =
        Lumo::AFS_Open_Write | (overwrite ? Lumo::AFS_Open_OpenExisting : Lumo::AFS_Open_CreateNew);
    ComPtr<Lumo::IAfsFileHandle> handle;
    RETURN_IF_FAILED(fileSystem->Open(name.Get(), flags, nullptr, nullptr, handle.Put()));
    RETURN_IF_FAILED(
        WriteThroughHandle(handle.Get(), size, [&](BYTE* data, DWORD count, DWORD* got) {
            return source.Read(data, count, got);
        }));
    ComPtr<Lumo::IAfsName> written;
    RETURN_IF_FAILED(handle->get_Name(written.Put()));
    std::wstring writtenText;
    RETURN_IF_FAILED(NameText(fileSystem, written.Get(), &writtenText));
    PrintLine(writtenText);
    return S_OK;
}

} // namespace gd
