// lumo-host's file-system commands: what the editor does with a registered
// file system, run on the calling thread (never the UI thread, where a
// sign-in shows its dialog). Each prints its result on standard output.
#pragma once

#include "host/document_io.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <string>

namespace gd {

struct GetOptions {
    DWORD chunk = 64 * 1024;
    ReadPattern pattern = ReadPattern::Sequential;
};

// One line per child of the folder NAME names.
HRESULT ListCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& name);
// "key: value" lines about NAME.
HRESULT StatCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& name);
// Reads NAME through a handle into the local file; prints the bytes read
// and the content bytes that came over the network.
HRESULT GetCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& name,
                   const std::wstring& local, const GetOptions& options);
// Writes the local file to NAME through a handle; prints the written file's name.
HRESULT PutCommand(Lumo::IAfsFileSystem* fileSystem, const std::wstring& local,
                   const std::wstring& name, bool overwrite);

} // namespace gd
