// What the host holds for an open Drive file: the name, the access it was
// opened with, its own position, and the stream underneath.
#pragma once

#include "drivefs/drive_name.h"
#include "drivefs/drive_stream.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <atomic>
#include <memory>

GD_DECLARE_INTERFACE(IDriveFileHandle, "9B5F7C21-3E8A-4D6F-A1C2-5E7B9D0F3A68")

namespace gd {

// The plug-in's side of its handles: the file system opens into one.
struct IDriveFileHandle : public Lumo::IAfsFileHandle {
    virtual void Attach(std::shared_ptr<DriveStream> stream, DWORD flags) = 0;
};

HRESULT MakeFileHandle(std::shared_ptr<DriveStream> stream, ComPtr<IDriveName> name, DWORD flags,
                       ComPtr<IDriveFileHandle>* handle);

} // namespace gd
