// The application installer: the association handler of .app files. Opening one asks for a
// device folder, checks that the device's system is at least the version the application's
// descriptor requires, and copies the file there through the program's upload window, which
// shows the application's icon.
#pragma once
#include "AppLinker.h"
#include "ComObject.h"
#include "ZelvanMgr.h"
#include "ZvAssocMgr.h"
#include <string>

namespace tv::applinker {

// The longest PC path the installer takes (its request holds 260 characters with the end).
inline constexpr size_t kMaxApplicationPath = 259;

// True to install, false when the device is older than the application requires (the user is
// told so). A version that cannot be read or compared installs.
bool CheckDeviceVersion(IZelvanMgr* hub, const std::string& device, const std::string& file, HMODULE language);

// Shows the application's icon ("root.ico") in the picture of the upload window; nothing when
// the file has none or it cannot be converted.
void ShowApplicationIcon(HWND window, const std::string& file);

class ZvAppLinker : public com::ComObject<ZvAppLinker, IZvAssociation> {
public:
    ZvAppLinker(HMODULE module, HMODULE language) : module_(module), language_(language) {}

    STDMETHODIMP DoVerb(LPSTR strItem, LONG dwVerbID) override;
    STDMETHODIMP GetAssociation(ZVASSOCIATION* pItem) override;
    STDMETHODIMP GetContextMenuID(LONG* dwID) override;
    STDMETHODIMP IsAcceptable(LPSTR strItem) override;
    // Installs the application on the calling thread's behalf and returns when done: S_OK
    // whatever the install achieved, E_INVALIDARG for a path it does not take.
    STDMETHODIMP Open(LPSTR strItem) override;

private:
    HMODULE module_;
    HMODULE language_;
};

} // namespace tv::applinker
