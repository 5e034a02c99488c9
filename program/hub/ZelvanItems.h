// The entries of one device folder, as scripts see them: 1-based, the name as default member.
#pragma once
#include "ComObject.h"
#include "ZelvanMgr.h"
#include <string>
#include <vector>

namespace tv::hub {

class ZelvanItems : public com::ComObject<ZelvanItems, IZvDispItems, ISupportErrorInfo> {
public:
    explicit ZelvanItems(HMODULE languageLibrary) : language_(languageLibrary) {}
    void* QueryOtherInterface(REFIID riid);

    void Append(const ZVFILEITEM& item);

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;
    STDMETHODIMP get_Count(LONG* pVal) override;
    STDMETHODIMP get_Item(LONG nIndex, BSTR* strValue) override;
    STDMETHODIMP get_ItemSize(LONG nIndex, LONG* pSize) override;
    STDMETHODIMP get_ItemType(LONG nIndex, LONG* pType) override;
    STDMETHODIMP get_ItemTime(LONG nIndex, DATE* pDate) override;
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    struct Entry {
        std::string name;
        long size;
        long type;
        FILETIME time;
    };
    HRESULT Report(HRESULT hr);
    bool InRange(LONG index) const { return index >= 1 && static_cast<size_t>(index) <= entries_.size(); }
    ITypeInfo* TypeInfo();

    HMODULE language_;
    std::vector<Entry> entries_;
    com::ComPtr<ITypeInfo> typeInfo_;
};

} // namespace tv::hub
