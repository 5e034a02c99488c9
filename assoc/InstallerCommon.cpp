#include "InstallerCommon.h"
#include "AssociationKeys.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "package_entry_lookup.h"
#include <commctrl.h>
#include <cstring>

namespace tv::assoc {
namespace {

constexpr UINT_PTR kShownBitmap = 1;

// The picture control's own handler: deletes the bitmap it was given (`bitmap`) when it goes.
LRESULT CALLBACK DeleteShownBitmap(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR bitmap) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(control, DeleteShownBitmap, id);
        DeleteObject(reinterpret_cast<HGDIOBJ>(bitmap));
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

} // namespace

Association HandlerAssociation(HMODULE module, HMODULE language, UINT descriptionId, const char* extension) {
    Association type;
    type.description = LoadLanguageString(language, descriptionId);
    type.extension = extension;
    type.iconSource = BuildLanguageLibraryPath(module);
    type.iconIndex = -IDI_PACKAGE;
    return type;
}

HRESULT AcceptsExtension(const char* item, const char* extension) {
    return item && lstrcmpiA(item, extension) == 0 ? S_OK : S_FALSE;
}

HRESULT RegisterHandlerAssociation(const Association& type) {
    AssociationBinding binding;
    binding.type = type;
    binding.openCommand = HandlerOpenCommand(ProgramImagePath());
    return WriteAssociationKeys(HKEY_CLASSES_ROOT, binding);
}

HRESULT UnregisterHandlerAssociation(const std::string& extension) {
    return RemoveAssociationKeys(HKEY_CLASSES_ROOT, extension);
}

bool ReadPackageDescriptor(const std::string& file, std::string& text) {
    return caparchive::ReadRootInf(file, text) == 0;
}

bool ConvertDeviceImage(const uint8_t* image, size_t length, BYTE** bits, BITMAPINFO** header) {
    if (!bits || !header)
        return false;
    package::DeviceBitmap bitmap;
    if (!image || !package::ConvertDeviceImage({image, length}, bitmap))
        return false;
    auto* newHeader = static_cast<BITMAPINFO*>(CoTaskMemAlloc(bitmap.header.size()));
    auto* newBits = static_cast<BYTE*>(CoTaskMemAlloc(bitmap.bits.size()));
    if (!newHeader || !newBits) {
        CoTaskMemFree(newHeader);
        CoTaskMemFree(newBits);
        return false;
    }
    std::memcpy(newHeader, bitmap.header.data(), bitmap.header.size());
    std::memcpy(newBits, bitmap.bits.data(), bitmap.bits.size());
    CoTaskMemFree(*header);
    CoTaskMemFree(*bits);
    *header = newHeader;
    *bits = newBits;
    return true;
}

HBITMAP CreateImageBitmap(const BITMAPINFO* header, const BYTE* bits) {
    if (!header || !bits)
        return nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBitmap(screen, &header->bmiHeader, CBM_INIT, bits, header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

void ShowPicture(HWND dialog, int controlId, HBITMAP bitmap) {
    if (!bitmap)
        return;
    HWND picture = GetDlgItem(dialog, controlId);
    // A picture control never deletes the bitmap it shows: it is deleted with the control.
    if (!picture ||
        !SetWindowSubclass(picture, DeleteShownBitmap, kShownBitmap, reinterpret_cast<DWORD_PTR>(bitmap))) {
        DeleteObject(bitmap);
        return;
    }
    HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(
        SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    if (previous && previous != bitmap)
        DeleteObject(previous);
}

} // namespace tv::assoc
