// The objects the file system hands out about names: the information of a
// name (read lazily), and the enumeration of a folder's children.
#pragma once

#include "drivefs/drive_name.h"
#include "plugin/sdk/lumo.h"

namespace gd {

HRESULT MakeFileInfo(ComPtr<IDriveName> name, Lumo::IAfsFileInfo** info);
// Nothing is fetched before the first Next.
HRESULT MakeFolderEnumeration(ComPtr<IDriveName> folder, Lumo::IAfsEnumFolder** enumerator);

} // namespace gd
