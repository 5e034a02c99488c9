// ZvRegistrar: the named-item store. Strings and DWORDs live in the per-user settings tree under
// HKCU "Software\Zelvan\Tavrilon\"; files and scripts, each with a version, are items of one store
// file kept through the package-archive component. The store file is opened on the first file or
// script access and saved by Flush or the last release.
#pragma once
#include "CapArchive.h"
#include "Handles.h"
#include "HResult.h"
#include "SharedInstance.h"
#include "TypeInfoDispatch.h"
#include "ZvRegistrar.h"
#include <string>

namespace registrar {

inline constexpr size_t kMaxStringLength = 1024; // in bytes with the terminating zero
inline constexpr long kKindFile = 2;
inline constexpr long kKindScript = 3;

// Where a string or DWORD item lives: the name split at its last backslash.
struct ValueLocation {
    std::string keyPath; // below HKCU (or HKLM) "Software\Zelvan\Tavrilon\"
    std::string valueName;
};
ValueLocation LocateValue(const std::string& name);

// The process-wide instance: its last release saves the store (in the destructor, which runs under
// the slot's lock, so that no creation picks up the object while it is being saved).
class Registrar
    : public tv::com::SharedComObject<Registrar, IZvRegistrarDisp2, IZvRegistrar, ISupportErrorInfo> {
public:
    explicit Registrar(tv::com::SharedInstance<Registrar>& slot) : SharedComObject(slot) {}
    ~Registrar() override;
    HRESULT FinalConstruct();
    void* QueryOtherInterface(REFIID riid);

    TV_DUAL_DISPATCH(IZvRegistrarDisp2, dispatch_)
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // IZvRegistrar
    STDMETHODIMP HasItem(ZvRegistrarItemType type, LPCSTR name, BOOL* pb) override;
    STDMETHODIMP RemoveItem(ZvRegistrarItemType type, LPCSTR name) override;
    STDMETHODIMP StoreString(LPCSTR name, LPCSTR data) override;
    STDMETHODIMP StoreDWORD(LPCSTR name, DWORD value) override;
    STDMETHODIMP StoreFile(LPCSTR name, LPCSTR fileName, long version) override;
    STDMETHODIMP StoreFileBuffer(LPCSTR, DWORD, const BYTE*, long) override { return E_NOTIMPL; }
    STDMETHODIMP StoreScript(LPCSTR name, LPCSTR script, long version) override;
    STDMETHODIMP GetString(LPCSTR name, LPSTR* text) override;
    STDMETHODIMP GetDWORD(LPCSTR name, DWORD* value) override;
    STDMETHODIMP GetFile(LPCSTR name, LPSTR* fileName) override;
    STDMETHODIMP GetFileBuffer(LPCSTR, DWORD*, BYTE**) override { return E_NOTIMPL; }
    STDMETHODIMP GetScript(LPCSTR name, LPSTR* script) override;
    STDMETHODIMP GetVersion(ZvRegistrarItemType type, LPCSTR name, long* version) override;
    STDMETHODIMP Flush() override;

    // IZvRegistrarDisp, IZvRegistrarDisp2
    STDMETHODIMP HasItem(ZvRegistrarItemType type, BSTR name, VARIANT_BOOL* pb) override;
    STDMETHODIMP RemoveItem(ZvRegistrarItemType type, BSTR name) override;
    STDMETHODIMP get_ItemString(BSTR name, BSTR* value) override;
    STDMETHODIMP put_ItemString(BSTR name, BSTR value) override;
    STDMETHODIMP get_ItemDWORD(BSTR name, long* value) override;
    STDMETHODIMP put_ItemDWORD(BSTR name, long value) override;
    STDMETHODIMP get_ItemFile(BSTR name, BSTR* path) override;
    STDMETHODIMP PutItemFile(BSTR name, BSTR path, long version) override;
    STDMETHODIMP get_ItemScript(BSTR name, BSTR* script) override;
    STDMETHODIMP PutItemScript(BSTR name, BSTR script, long version) override;
    STDMETHODIMP get_Version(ZvRegistrarItemType type, BSTR name, long* version) override;
    STDMETHODIMP get_GlobalItemDWORD(BSTR name, long* value) override;
    STDMETHODIMP put_GlobalItemDWORD(BSTR name, long value) override;

private:
    HRESULT OpenStore();
    // S_OK and the item, or the "not found" error of the automation face.
    HRESULT FindStored(BSTR name, long kind, ICapItem** item);
    HRESULT PutItem(BSTR name, long kind, long version, BSTR content);

    tv::com::ComPtr<ICapArchive> archive_;
    tv::com::UniqueBstr storePath_;
    tv::com::ComPtr<ICapPackage> store_; // null while closed
    tv::com::TypeInfoDispatch dispatch_{IID_IZvRegistrarDisp2};
};

// The process-wide instance: made on the first request, shared while anyone holds it. A failed
// creation is returned to its caller and tried again by the next one.
HRESULT CreateSharedRegistrar(REFIID riid, void** ppv);

} // namespace registrar
