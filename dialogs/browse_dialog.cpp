#include "dialogs/browse_dialog.h"

#include "errors/check.h"

namespace gd {

// Not built yet: the browse dialog comes in its own change.
HRESULT RunBrowseDialog(HWND, ComPtr<IDriveName>, ComPtr<Lumo::IAfsName>*) {
    RETURN_HR_IF(E_NOTIMPL, true);
}

} // namespace gd
