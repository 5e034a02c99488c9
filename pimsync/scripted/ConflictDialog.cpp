#include "ConflictDialog.h"
#include "ComPtr.h"
#include "DialogChoice.h"
#include "DllModule.h"
#include "Handles.h"
#include "HResult.h"
#include "ScriptSyncIds.h"
#include <commctrl.h>
#include <algorithm>

namespace tv::scriptsync {
namespace {

constexpr UINT kEndMessage = WM_APP + 1; // wParam: the choice

struct DialogContext {
    const std::wstring* caption1;
    const std::wstring* caption2;
    IDispatch* item1;
    IDispatch* item2;
    DialogChoice answer;
};

std::wstring LangText(UINT id) {
    wchar_t text[256] = {};
    LoadStringW(dll::LanguageLibrary(), id, text, ARRAYSIZE(text));
    return text;
}

struct OwnedVariant : VARIANT {
    OwnedVariant() { VariantInit(this); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
    ~OwnedVariant() { VariantClear(this); }
};

// Holds a type's attributes while the type information is held.
class TypeAttributes {
  public:
    explicit TypeAttributes(ITypeInfo* info) : info_(info) {}
    ~TypeAttributes() {
        if (attributes_)
            info_->ReleaseTypeAttr(attributes_);
    }
    TypeAttributes(const TypeAttributes&) = delete;
    TypeAttributes& operator=(const TypeAttributes&) = delete;
    HRESULT Load() { return info_->GetTypeAttr(&attributes_); }
    const TYPEATTR* operator->() const { return attributes_; }

  private:
    ITypeInfo* info_;
    TYPEATTR* attributes_ = nullptr;
};

// The member id of a variable of the type.
HRESULT VariableId(ITypeInfo* info, UINT index, MEMBERID* id) {
    VARDESC* description = nullptr;
    TV_RETURN_IF_FAILED(info->GetVarDesc(index, &description));
    *id = description->memid;
    info->ReleaseVarDesc(description);
    return S_OK;
}

void AddColumn(HWND list, int index, UINT headingId) {
    std::wstring heading = LangText(headingId);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_SUBITEM | LVCF_WIDTH;
    column.pszText = heading.data();
    column.iSubItem = index;
    column.cx = 50;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

// Column 0 as wide as its widest text plus 8; column 1 the rest of the client width less 9.
void SizeColumns(HWND list) {
    wchar_t text[512];
    int widest = 0;
    const int rows = ListView_GetItemCount(list);
    for (int row = 0; row < rows; ++row) {
        text[0] = L'\0';
        LVITEMW item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = ARRAYSIZE(text);
        SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        widest = std::max(widest, static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0,
                                                                 reinterpret_cast<LPARAM>(text))));
    }
    const int first = widest + 8;
    RECT client = {};
    GetClientRect(list, &client);
    ListView_SetColumnWidth(list, 0, first);
    ListView_SetColumnWidth(list, 1, std::max(0, static_cast<int>(client.right - client.left) - first - 9));
}

void ShowItem(HWND dialog, int listId, int captionId, const std::wstring& caption, IDispatch* item) {
    SetDlgItemTextW(dialog, captionId, caption.c_str());
    HWND list = GetDlgItem(dialog, listId);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    AddColumn(list, 0, IDS_SYNCHOST_PROPERTY);
    AddColumn(list, 1, IDS_SYNCHOST_VALUE);
    FillPropertyList(list, item); // what could be read stays listed
    SizeColumns(list);
}

void End(HWND dialog, LONG choice) {
    if (auto* context = reinterpret_cast<DialogContext*>(GetWindowLongPtrW(dialog, DWLP_USER)))
        context->answer.End(choice);
}

INT_PTR CALLBACK ConflictProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* context = reinterpret_cast<DialogContext*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ShowItem(dialog, IDC_SYNCHOST_LIST1, IDC_SYNCHOST_CAPTION1, *context->caption1, context->item1);
        ShowItem(dialog, IDC_SYNCHOST_LIST2, IDC_SYNCHOST_CAPTION2, *context->caption2, context->item2);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SYNCHOST_FIRST:
            End(dialog, kChoiceFirst);
            return TRUE;
        case IDC_SYNCHOST_SKIP:
            End(dialog, kChoiceSkip);
            return TRUE;
        case IDC_SYNCHOST_SECOND:
            End(dialog, kChoiceSecond);
            return TRUE;
        case IDCANCEL:
            End(dialog, kChoiceCancel);
            return TRUE;
        }
        break;
    case kEndMessage:
        End(dialog, static_cast<LONG>(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

HRESULT FillPropertyList(HWND list, IDispatch* item) {
    if (!list || !item)
        return E_INVALIDARG;
    UINT count = 0;
    TV_RETURN_IF_FAILED(item->GetTypeInfoCount(&count));
    if (count == 0)
        return E_FAIL;
    com::ComPtr<ITypeInfo> info;
    TV_RETURN_IF_FAILED(item->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    if (!info)
        return E_FAIL;
    TypeAttributes attributes(info.Get());
    TV_RETURN_IF_FAILED(attributes.Load());
    const std::wstring emptyText = LangText(IDS_SYNCHOST_EMPTY_VALUE);
    const std::wstring nullText = LangText(IDS_SYNCHOST_NULL_VALUE);
    int row = 0;
    for (UINT index = 0; index < attributes->cVars; ++index) {
        MEMBERID id = MEMBERID_NIL;
        TV_RETURN_IF_FAILED(VariableId(info.Get(), index, &id));
        com::UniqueBstr name;
        TV_RETURN_IF_FAILED(info->GetDocumentation(id, name.Put(), nullptr, nullptr, nullptr));
        if (name && name.Get()[0] == L'_')
            continue;
        LVITEMW entry = {};
        entry.mask = LVIF_TEXT;
        entry.iItem = row;
        entry.pszText = name ? name.Get() : const_cast<wchar_t*>(L"");
        row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry)));
        if (row < 0)
            return E_FAIL;
        OwnedVariant value;
        DISPPARAMS none = {};
        TV_RETURN_IF_FAILED(
            item->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr));
        std::wstring text;
        if (value.vt == VT_EMPTY) {
            text = emptyText;
        } else if (value.vt == VT_NULL) {
            text = nullText;
        } else {
            TV_RETURN_IF_FAILED(VariantChangeType(&value, &value, 0, VT_BSTR));
            text.assign(value.bstrVal, SysStringLen(value.bstrVal));
        }
        LVITEMW cell = {};
        cell.iSubItem = 1;
        cell.pszText = text.data();
        SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
        ++row;
    }
    return S_OK;
}

void EndConflictDialog(HWND dialog, LONG choice) {
    if (dialog && IsWindow(dialog))
        PostMessageW(dialog, kEndMessage, static_cast<WPARAM>(choice), 0);
}

HRESULT RunConflictDialog(HWND owner, const std::wstring& caption1, const std::wstring& caption2, IDispatch* item1,
                          IDispatch* item2, HWND* openDialog, LONG* choice) {
    DialogContext context{&caption1, &caption2, item1, item2, {}};
    HWND dialog = CreateDialogParamW(dll::LanguageLibrary(), MAKEINTRESOURCEW(IDD_SYNCHOST_CONFLICT), owner,
                                     ConflictProc, reinterpret_cast<LPARAM>(&context));
    if (!dialog)
        return E_FAIL;
    com::UniqueWindow window(dialog);
    *openDialog = dialog;
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    // A quit meant for the thread goes on to the thread's own loop and ends the dialog as a Cancel.
    *choice = context.answer.Run(dialog, kChoiceCancel);
    *openDialog = nullptr;
    return S_OK;
}

} // namespace tv::scriptsync
