#include "CapObjects.h"
#include "AnsiText.h"
#include "ErrorInfo.h"
#include "Win32FileIo.h"
#include "package_writer.h"
#include "result_codes.h"

using tv::com::ComPtr;
using tv::com::ToAnsi;

namespace caparchive::com {
namespace {

// Turns a result code of the package code into an HRESULT with error information whose
// description is the system's text for it.
HRESULT Fail(int code) {
    HRESULT hr = HRESULT_FROM_WIN32(static_cast<DWORD>(code));
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&text), 0,
                                  nullptr);
    tv::com::SetComErrorInfo(CLSID_CapArchive, length ? text : L"Package file error", 0, nullptr, IID_ICapArchive,
                             hr, nullptr);
    if (text)
        LocalFree(text);
    return hr;
}

HRESULT FailHr(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
        return Fail(HRESULT_CODE(hr));
    return hr;
}

bool IsMissingFile(int code) { return code == kErrorFileNotFound || code == kErrorPathNotFound; }

int OpenDirectory(BSTR path, PackageDirectory& directory, win::HandleSource& source) {
    int code = source.Open(path);
    if (code != kSuccess)
        return code;
    return ReadPackageDirectory(source, directory);
}

} // namespace

void* ArchiveObject::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<ICapArchive*>(this);
    return nullptr;
}

STDMETHODIMP ArchiveObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_ICapArchive) ? S_OK : S_FALSE;
}

STDMETHODIMP ArchiveObject::Load(BSTR path, ICapPackage** package) {
    if (!package)
        return E_POINTER;
    *package = nullptr;
    if (!path || !*path)
        return E_INVALIDARG;
    win::HandleSource source;
    int code = source.Open(path);
    Package loaded;
    if (code == kSuccess)
        code = ReadPackage(source, loaded);
    if (code != kSuccess)
        return Fail(code);
    ComPtr<PackageObject> object;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(object));
    TV_RETURN_IF_FAILED(object->Assign(std::move(loaded)));
    *package = object.Detach();
    return S_OK;
}

STDMETHODIMP ArchiveObject::Save(BSTR path, ICapPackage* package) {
    if (!path || !*path)
        return E_INVALIDARG;
    ComPtr<PackageObject> object = OwnObject<PackageObject>(package);
    if (!object)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    if (object->Option() == kBackupSetOption) {
        // A backup set is written item by item, each one's data read as it is written.
        hr = win::SaveAtomically(path, [&](ByteSink& sink) { return object->WriteSet(sink); });
    } else {
        Package snapshot;
        TV_RETURN_IF_FAILED(object->Snapshot(snapshot));
        hr = win::SaveAtomically(path, [&](ByteSink& sink) { return WritePackage(snapshot, sink); });
    }
    return FAILED(hr) ? FailHr(hr) : S_OK;
}

// Reads the directory and catalog only; a file that does not exist holds no item.
STDMETHODIMP ArchiveObject::Has(BSTR path, BSTR name, long kind) {
    if (!path || !*path)
        return E_INVALIDARG;
    PackageDirectory directory;
    win::HandleSource source;
    int code = OpenDirectory(path, directory, source);
    if (IsMissingFile(code))
        return S_FALSE;
    if (code != kSuccess)
        return Fail(code);
    return FindItem(directory, ToAnsi(name), kind) ? S_OK : S_FALSE;
}

STDMETHODIMP ArchiveObject::Dir(BSTR path, ICapDirectory** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (!path || !*path)
        return E_INVALIDARG;
    PackageDirectory directory;
    win::HandleSource source;
    int code = OpenDirectory(path, directory, source);
    if (code != kSuccess)
        return Fail(code);
    ComPtr<DirectoryObject> object;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(object, std::move(directory)));
    *result = object.Detach();
    return S_OK;
}

} // namespace caparchive::com
