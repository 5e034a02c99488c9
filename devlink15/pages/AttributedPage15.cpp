#include "AttributedPage15.h"
#include "FilePageCore.h"
#include "LangIds.h"

namespace devlink15 {
namespace {

using tv::pages::kAttrHidden;
using tv::pages::kAttrKeptS;
using tv::pages::kAttrReadOnly;
using tv::pages::kAttrSystem;

constexpr long kBoxBits = kAttrHidden | kAttrReadOnly | kAttrSystem;

bool ReadOnlyChangeable(long attr) {
    return !(attr & kAttrKeptS) || (attr & kAttrReadOnly);
}

} // namespace

template <class Base> void AttributedPage15<Base>::FillAttributeBoxes(long attr, bool systemLocksReadOnly) {
    HWND page = this->Window();
    CheckDlgButton(page, kHiddenBox, (attr & kAttrHidden) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, kReadOnlyBox, (attr & kAttrReadOnly) ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, kSystemBox, (attr & kAttrSystem) ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(page, kHiddenBox), TRUE);
    EnableWindow(GetDlgItem(page, kSystemBox), FALSE);
    bool readOnly = ReadOnlyChangeable(attr) && !(systemLocksReadOnly && (attr & kAttrSystem));
    EnableWindow(GetDlgItem(page, kReadOnlyBox), readOnly);
}

template <class Base> void AttributedPage15<Base>::OnCommand(WORD id, WORD code) {
    if ((id == kHiddenBox || id == kReadOnlyBox || id == kSystemBox) && code == BN_CLICKED)
        this->SetDirty(true);
    Base::OnCommand(id, code);
}

template <class Base> HRESULT AttributedPage15<Base>::ApplyChanges() {
    tv::com::ComPtr<IZelvanMgr> hub;
    HRESULT hr = tv::pages::CreateHub(hub);
    if (FAILED(hr))
        return hr;
    HWND page = this->Window();
    const std::string newName = this->ControlText(this->kNameBox, 256);
    const bool renaming = this->PathForName(newName) != this->FullPath();
    this->SetDirty(false);
    ZVFILEITEM& item = this->Item();

    if (renaming && (item.attr & kAttrSystem)) {
        this->ShowMessage(GetDesktopWindow(), this->LanguageText(IDS_PAGE_SYSTEM_RENAME), IDS_TRAY_STATE_5,
                          MB_ICONSTOP);
        if (RestoresNameOfSystemItem())
            this->RestoreNameBox();
        // The attribute changes are still to be applied.
        this->SetDirty(true);
        return E_FAIL;
    }
    if (renaming) {
        bool renamed = false;
        std::string error;
        hr = this->RenameFromNameBox(hub.Get(), renamed, error);
        if (FAILED(hr)) {
            this->RestoreNameBox();
            std::string caption = this->LanguageText(IDS_PROGRAM_TITLE);
            if (caption.empty())
                return E_FAIL;
            if (!error.empty())
                MessageBoxA(page, error.c_str(), caption.c_str(), MB_ICONSTOP);
            this->SetDirty(true);
            return hr;
        }
    }

    const long oldAttr = item.attr;
    long attr = oldAttr & ~kBoxBits;
    if (IsDlgButtonChecked(page, kHiddenBox) == BST_CHECKED)
        attr |= kAttrHidden;
    if (IsDlgButtonChecked(page, kReadOnlyBox) == BST_CHECKED)
        attr |= kAttrReadOnly;
    if (IsDlgButtonChecked(page, kSystemBox) == BST_CHECKED)
        attr |= kAttrSystem;
    if (attr != oldAttr) {
        ZVFILEITEM changed = item;
        changed.attr = attr;
        std::string path = this->FullPath();
        changed.strName = path.data();
        hr = hub->SetItemAttributes(changed);
        if (hr == S_OK) {
            item.attr = attr;
        } else {
            this->ShowMessage(page, this->LanguageText(AttributeFailureText()), IDS_HUB_MESSAGE_CAPTION,
                              MB_ICONSTOP);
            FillAttributeBoxes(oldAttr, false);
        }
    }
    return S_OK;
}

template class AttributedPage15<tv::pages::ItemPageCore>;
template class AttributedPage15<tv::pages::FilePageCore>;

} // namespace devlink15
