// What the package and application installers share: their association record and its
// registry keys, the extension test, the package descriptor and the device image as a bitmap.
#pragma once
#include "AssociationRecord.h"
#include "DeviceImage.h"
#include <windows.h>
#include <string>

namespace tv::assoc {

// A handler's own file type: its description (language string), its extension, and the icon
// resource of the language library beside `module`.
Association HandlerAssociation(HMODULE module, HMODULE language, UINT descriptionId, const char* extension);

// IZvAssociation::IsAcceptable of a handler: S_OK when `item` is `extension` in any case.
HRESULT AcceptsExtension(const char* item, const char* extension);

// Binds the handler's extension to the program under HKEY_CLASSES_ROOT (open command
// "<program>" "/FileOpen %1"), and removes only our own keys again.
HRESULT RegisterHandlerAssociation(const Association& type);
HRESULT UnregisterHandlerAssociation(const std::string& extension);

// The descriptor "root.inf" of a package or application file; false when it cannot be read.
bool ReadPackageDescriptor(const std::string& file, std::string& text);

// A device image converted into two task-allocator buffers: the bitmap header with its palette,
// and the pixel bits. Replaces what the buffers held; false when an allocation fails or the image
// gives no picture.
bool ConvertDeviceImage(const uint8_t* image, size_t length, BYTE** bits, BITMAPINFO** header);

// A bitmap of the converted image for a picture control; null when it cannot be made.
HBITMAP CreateImageBitmap(const BITMAPINFO* header, const BYTE* bits);

// Shows `bitmap` in the picture control `controlId` of `dialog`; the control takes it over and
// deletes it when the control is destroyed.
void ShowPicture(HWND dialog, int controlId, HBITMAP bitmap);

} // namespace tv::assoc
