#include "ZvCapLinker.h"
#include "AnsiText.h"
#include "CapArchive.h"
#include "FileStager.h"
#include "Handles.h"
#include "HResult.h"
#include "InstallerCommon.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "PackageInfo.h"
#include "ScriptHost.h"
#include "ZvCAPAsker.h"
#include "ZvCAPCopier.h"
#include <memory>
#include <new>
#include <vector>

namespace tv::caplinker {
namespace {

constexpr long kKindFile = 2;
constexpr long kKindScript = 3;
constexpr wchar_t kScriptErrorCaption[] = L"ZvCapLinker";

// A fresh temporary file "CAP<n>.tmp" in the temporary folder; empty when none can be made.
std::string MakeTempFile() {
    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    const DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder) || !GetTempFileNameA(folder, "CAP", 0, file))
        return {};
    return file;
}

// Writes an item's data to a fresh temporary file, whose path goes to `path`.
HRESULT SaveItemToTempFile(ICapItem* item, std::string& path) {
    com::ComPtr<ICapFileItem> data;
    if (FAILED(item->QueryInterface(__uuidof(ICapFileItem), reinterpret_cast<void**>(&data))))
        return E_NOINTERFACE;
    path = MakeTempFile();
    if (path.empty())
        return HRESULT_FROM_WIN32(GetLastError());
    com::UniqueBstr target = com::AnsiToUniqueBstr(path);
    const HRESULT hr = data->SaveToFile(target.Get());
    if (FAILED(hr)) {
        DeleteFileA(path.c_str());
        path.clear();
    }
    return hr;
}

// An item's whole data.
HRESULT ReadItemData(ICapFileItem* item, std::vector<uint8_t>& data) {
    long size = 0;
    TV_RETURN_IF_FAILED(item->get_Size(&size));
    if (size < 0)
        return E_FAIL;
    try {
        data.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return item->GetData(size, data.data());
}

HRESULT FindScript(ICapPackage* package, const wchar_t* name, com::ComPtr<ICapItem>& item) {
    com::UniqueBstr itemName(SysAllocString(name));
    return package->Find(itemName.Get(), kKindScript, item.ReleaseAndGetAddressOf());
}

} // namespace

void* ZvCapLinker::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IZvCapLinker))
        return static_cast<IZvCapLinker2*>(this);
    return nullptr;
}

// ---- IZvAssociation ----

STDMETHODIMP ZvCapLinker::DoVerb(LPSTR, LONG) {
    return E_NOTIMPL;
}

STDMETHODIMP ZvCapLinker::GetAssociation(ZVASSOCIATION* pItem) {
    if (!pItem)
        return E_POINTER;
    return assoc::CopyToRecord(assoc::HandlerAssociation(module_, language_, IDS_CAP_DESCRIPTION, ".cap"),
                               *pItem);
}

STDMETHODIMP ZvCapLinker::GetContextMenuID(LONG* dwID) {
    if (!dwID)
        return E_POINTER;
    *dwID = 0; // no context menu of our own
    return S_OK;
}

STDMETHODIMP ZvCapLinker::IsAcceptable(LPSTR strItem) {
    return assoc::AcceptsExtension(strItem, ".cap");
}

void ZvCapLinker::ShowMessage(UINT textId) const {
    MessageBoxA(nullptr, LoadLanguageString(language_, textId).c_str(),
                LoadLanguageString(language_, IDS_INSTALL_CAPTION).c_str(), MB_OK | MB_ICONERROR);
}

STDMETHODIMP ZvCapLinker::Open(LPSTR strItem) {
    if (!strItem)
        return E_POINTER;
    com::ComPtr<ICapArchive> archive;
    com::ComPtr<ICapPackage> package;
    com::UniqueBstr path = com::AnsiToUniqueBstr(strItem);
    HRESULT hr = CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  __uuidof(ICapArchive), reinterpret_cast<void**>(&archive));
    if (SUCCEEDED(hr))
        hr = archive->Load(path.Get(), &package);
    if (SUCCEEDED(hr) && !package)
        hr = E_FAIL;
    if (FAILED(hr)) {
        ShowMessage(IDS_CAP_NOT_A_PACKAGE);
        return hr;
    }

    // The JScript install script wins over the VBScript one.
    com::ComPtr<ICapItem> script;
    const wchar_t* language = L"JScript";
    if (FindScript(package.Get(), L"install.js", script) != S_OK || !script) {
        language = L"VBScript";
        if (FindScript(package.Get(), L"install.vbs", script) != S_OK || !script)
            return DefaultInstall(package.Get());
    }
    com::ComPtr<ICapScriptItem> scriptText;
    if (FAILED(script.As(&scriptText)))
        return E_NOINTERFACE;
    com::UniqueBstr text;
    TV_RETURN_IF_FAILED(scriptText->get_Text(text.Put()));
    return RunInstallScript(strItem, package.Get(), text.Get(), language);
}

HRESULT ZvCapLinker::RunInstallScript(const std::string& fileName, ICapPackage* package, BSTR script,
                                      const wchar_t* language) {
    ScriptHost host;
    com::UniqueBstr languageName(SysAllocString(language));
    TV_RETURN_IF_FAILED(host.SetLanguage(languageName.Get()));
    TV_RETURN_IF_FAILED(host.Create());
    com::UniqueBstr linkerName(SysAllocString(L"CAPLinker")), fileItemName(SysAllocString(L"CAPFile"));
    TV_RETURN_IF_FAILED(host.AddObject(linkerName.Get(), static_cast<IZvCapLinker2*>(this), false));
    TV_RETURN_IF_FAILED(host.AddObject(fileItemName.Get(), package, false));
    TV_RETURN_IF_FAILED(host.AddCode(script));

    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    TV_RETURN_IF_FAILED(com::AnsiToBstr(fileName, &argument.bstrVal));
    VARIANT result;
    VariantInit(&result);
    com::UniqueBstr main(SysAllocString(L"main"));
    const HRESULT hr = host.CallFunction(main.Get(), 1, &argument, &result);
    VariantClear(&argument);
    VariantClear(&result);
    if (FAILED(hr)) {
        com::UniqueBstr report(host.GetErrorText());
        MessageBoxW(nullptr, report ? report.Get() : L"", kScriptErrorCaption,
                    MB_OK | MB_TOPMOST | MB_ICONERROR);
        return hr;
    }
    return S_OK;
}

HRESULT ZvCapLinker::DefaultInstall(ICapPackage* package) {
    com::ComPtr<ZvCAPCopier> copier;
    TV_RETURN_IF_FAILED(com::MakeComObject(copier, language_));
    // Each item goes to a temporary file of its own, written on the stager's thread while the
    // hub already copies the ones before it to the device.
    auto stager = std::make_unique<FileStager>(L"CAP");
    long count = 0;
    TV_RETURN_IF_FAILED(package->get_Count(&count));
    for (long index = 0; index < count; ++index) {
        com::ComPtr<ICapItem> item;
        if (package->get_Item(index, &item) != S_OK || !item)
            continue;
        long kind = 0;
        if (FAILED(item->get_Kind(&kind)) || kind != kKindFile)
            continue;
        com::ComPtr<ICapFileItem> file;
        if (FAILED(item.As(&file)))
            return E_NOINTERFACE;
        std::vector<uint8_t> data;
        TV_RETURN_IF_FAILED(ReadItemData(file.Get(), data));
        com::UniqueBstr name;
        TV_RETURN_IF_FAILED(item->get_Name(name.Put()));
        TV_RETURN_IF_FAILED(stager->Add({}, std::move(data)));
        copier->AddStagedFile(com::ToAnsi(name.Get()));
    }

    // The package's icon item, when its header names one that is there.
    com::ComPtr<ICapHeader> header;
    com::UniqueBstr iconName;
    if (package->get_Header(&header) == S_OK && header && SUCCEEDED(header->get_IconName(iconName.Put())) &&
        iconName && SysStringLen(iconName.Get()) > 0) {
        com::ComPtr<ICapItem> icon;
        if (package->Find(iconName.Get(), kKindFile, &icon) == S_OK && icon) {
            std::string iconPath;
            TV_RETURN_IF_FAILED(SaveItemToTempFile(icon.Get(), iconPath));
            com::UniqueBstr iconFile = com::AnsiToUniqueBstr(iconPath);
            copier->put_Icon(iconFile.Get());
            DeleteFileA(iconPath.c_str());
        }
    }
    copier->StageSourcesWith(std::move(stager));
    LONG result = -1;
    return copier->Run(&result);
}

// ---- IZvCapLinker2 ----

STDMETHODIMP ZvCapLinker::get_Copier(IZvCAPCopier** ppCopier) {
    if (!ppCopier)
        return E_POINTER;
    return com::CreateComObject<ZvCAPCopier>(__uuidof(IZvCAPCopier), reinterpret_cast<void**>(ppCopier),
                                             language_);
}

STDMETHODIMP ZvCapLinker::get_Asker(IZvCAPAsker** ppAsker) {
    if (!ppAsker)
        return E_POINTER;
    return com::CreateComObject<ZvCAPAsker>(__uuidof(IZvCAPAsker), reinterpret_cast<void**>(ppAsker),
                                            language_);
}

STDMETHODIMP ZvCapLinker::GetVersion(BSTR strFileName, BSTR* pVer) {
    if (!pVer)
        return E_POINTER;
    *pVer = nullptr;
    std::string text;
    if (!assoc::ReadPackageDescriptor(com::ToAnsi(strFileName), text))
        return E_FAIL;
    package::PackageInfo info;
    package::ParsePackageInfo(info, text, true);
    return SUCCEEDED(com::AnsiToBstr(info.version, pVer)) ? S_OK : E_OUTOFMEMORY;
}

} // namespace tv::caplinker
