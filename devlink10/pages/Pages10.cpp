#include "Pages10.h"
#include "LangIds.h"

namespace devlink10 {

using tv::pages::PageTemplate;

// The file's time comes from the device as UTC and is shown in local time.
ZvFilePropPage10::ZvFilePropPage10() : PropertyPageObject(PageTemplate{IDD_FILE_PAGE_10, 0}, true) {}

HRESULT ZvFilePropPage10::ApplyChanges() {
    SetDirty(false);
    tv::com::ComPtr<IZelvanMgr> hub;
    HRESULT hr = tv::pages::CreateHub(hub);
    if (SUCCEEDED(hr)) {
        bool renamed = false;
        std::string error;
        hr = RenameFromNameBox(hub.Get(), renamed, error);
    }
    // A name the device did not take is still to be applied.
    if (FAILED(hr))
        SetDirty(true);
    return hr;
}

ZvMediaPropPage10::ZvMediaPropPage10()
    : PropertyPageObject(PageTemplate{IDD_MEDIA_PAGE_10, 0}, IDS_DEVICE_DESCRIPTION_10) {}

} // namespace devlink10
