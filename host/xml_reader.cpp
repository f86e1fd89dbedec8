#include "host/xml_reader.h"

#include "errors/check.h"

namespace gd {
namespace {

using CreateXmlReaderProc = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

HRESULT CreateReader(IXmlReader** reader) {
    static HMODULE library = LoadLibraryW(L"xmllite.dll");
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), library == nullptr);
    auto proc = reinterpret_cast<CreateXmlReaderProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "CreateXmlReader")));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), proc == nullptr);
    return proc(__uuidof(IXmlReader), reinterpret_cast<void**>(reader), nullptr);
}

} // namespace

HRESULT CreateXmlReaderOn(IStream* stream, ComPtr<IXmlReader>* reader) {
    RETURN_HR_IF_NULL(E_INVALIDARG, stream);
    RETURN_IF_FAILED(CreateReader(reader->Put()));
    return (*reader)->SetInput(stream);
}

std::wstring XmlAttribute(IXmlReader* reader, const wchar_t* name) {
    // Wine's reader needs an empty namespace, not a null one.
    if (reader->MoveToAttributeByName(name, L"") != S_OK)
        return {};
    const wchar_t* value = nullptr;
    std::wstring text;
    // The value is the reader's until it moves: copied before going back.
    if (SUCCEEDED(reader->GetValue(&value, nullptr)) && value != nullptr)
        text = value;
    reader->MoveToElement();
    return text;
}

std::wstring XmlLocalName(IXmlReader* reader) {
    const wchar_t* name = nullptr;
    if (FAILED(reader->GetLocalName(&name, nullptr)) || name == nullptr)
        return {};
    return name;
}

} // namespace gd
