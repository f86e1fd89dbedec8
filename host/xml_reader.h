// XmlLite for the host's documents: the reader comes from xmllite.dll
// through GetProcAddress (MinGW has no import library for it).
#pragma once

#include <objidl.h>
#include <xmllite.h>

#include <string>

#include "plugin/com_ptr.h"

namespace gd {

// A reader over a stream.
HRESULT CreateXmlReaderOn(IStream* stream, ComPtr<IXmlReader>* reader);
// The current element's local name; empty when it has none.
std::wstring XmlLocalName(IXmlReader* reader);
// An attribute of the current element; empty when absent.
std::wstring XmlAttribute(IXmlReader* reader, const wchar_t* name);

} // namespace gd
