#include "ZvAppLinker.h"
#include "AppUploader.h"
#include "Handles.h"
#include "InstallerCommon.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "PackageInfo.h"
#include "VersionCheck.h"
#include "package_entry_lookup.h"
#include <cstdio>
#include <cstring>
#include <vector>

namespace tv::applinker {
namespace {

constexpr LONG kResponseLength = 256;

void TellDeviceTooOld(HMODULE language, const std::string& required, const std::string& device) {
    const std::string pattern = LoadLanguageString(language, IDS_APP_DEVICE_TOO_OLD);
    std::vector<char> text(pattern.size() + required.size() + device.size() + 1);
    std::snprintf(text.data(), text.size(), pattern.c_str(), required.c_str(), device.c_str());
    MessageBoxA(nullptr, text.data(), LoadLanguageString(language, IDS_INSTALL_CAPTION).c_str(), MB_OK | MB_ICONERROR);
}

} // namespace

bool CheckDeviceVersion(IZelvanMgr* hub, const std::string& device, const std::string& file, HMODULE language) {
    std::string descriptor;
    if (!hub || !assoc::ReadPackageDescriptor(file, descriptor))
        return true;
    package::PackageInfo info;
    package::ParsePackageInfo(info, descriptor, true);

    std::string name = device;
    char command[] = "ver ";
    LONG length = kResponseLength;
    com::UniqueTaskMem<char> response;
    if (FAILED(hub->Command(name.data(), command, &length, response.Put())) || !response)
        return true;
    std::string deviceVersion;
    if (package::CheckVersionTexts(response.Get(), info.requiredVersion, &deviceVersion) ==
        package::VersionVerdict::Install)
        return true;
    TellDeviceTooOld(language, info.requiredVersion, deviceVersion);
    return false;
}

void ShowApplicationIcon(HWND window, const std::string& file) {
    uint32_t size = 0;
    if (caparchive::GetPackageEntrySize(file, caparchive::kRootIconName, size) != 0 || size == 0)
        return;
    std::vector<uint8_t> image(size);
    if (caparchive::ReadPackageEntry(file, caparchive::kRootIconName, image, size) != 0)
        return;
    com::UniqueTaskMem<BYTE> bits;
    com::UniqueTaskMem<BITMAPINFO> header;
    if (!assoc::ConvertDeviceImage(image.data(), size, bits.Put(), header.Put()))
        return;
    assoc::ShowPicture(window, IDC_UPLOADER_PICTURE, assoc::CreateImageBitmap(header.Get(), bits.Get()));
}

STDMETHODIMP ZvAppLinker::DoVerb(LPSTR, LONG) { return E_NOTIMPL; }

STDMETHODIMP ZvAppLinker::GetAssociation(ZVASSOCIATION* pItem) {
    if (!pItem)
        return E_POINTER;
    return assoc::CopyToRecord(assoc::HandlerAssociation(module_, language_, IDS_APP_DESCRIPTION, ".app"), *pItem);
}

STDMETHODIMP ZvAppLinker::GetContextMenuID(LONG* dwID) {
    if (!dwID)
        return E_POINTER;
    *dwID = 0; // no context menu of our own
    return S_OK;
}

STDMETHODIMP ZvAppLinker::IsAcceptable(LPSTR strItem) { return assoc::AcceptsExtension(strItem, ".app"); }

STDMETHODIMP ZvAppLinker::Open(LPSTR strItem) {
    if (!strItem)
        return E_POINTER;
    const std::string file = strItem;
    // A longer path is refused whole, never cut.
    if (file.size() > kMaxApplicationPath)
        return E_INVALIDARG;
    uploader::UploadRequest request;
    request.pcPath = file;
    request.captionId = IDS_APP_COPY_CAPTION;
    request.language = language_;
    request.browseTitleId = IDS_INSTALL_BROWSE_TITLE;
    request.browseTextId = IDS_INSTALL_BROWSE_TEXT;
    HMODULE language = language_;
    request.approve = [file, language](IZelvanMgr* hub, const std::string& device) {
        return CheckDeviceVersion(hub, device, file, language);
    };
    request.decorate = [file](HWND window) { ShowApplicationIcon(window, file); };
    return uploader::RunUploader(std::move(request)) ? S_OK : E_FAIL;
}

} // namespace tv::applinker
