// Listings the hub makes itself: the connected devices, and the empty listing.
#pragma once
#include "ComObject.h"
#include "Hub.h"

namespace tv::hub {

// The shown devices of the hub's list as items of type 1.
class ZvEnumDevices : public com::ComObject<ZvEnumDevices, IZvEnumFileItems> {
public:
    explicit ZvEnumDevices(Hub* hub) : hub_(hub) {}
    STDMETHODIMP Next(ULONG nElems, ZVFILEITEM* pElems, LONG* nFetched) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Skip(ULONG nElems) override;
    STDMETHODIMP Clone(IZvEnumFileItems** piCloned) override;

private:
    RecordPtr NextShown();

    com::ComPtr<Hub> hub_;
    size_t position_ = 0;
};

class ZvEnumDumb : public com::ComObject<ZvEnumDumb, IZvEnumFileItems> {
public:
    STDMETHODIMP Next(ULONG nElems, ZVFILEITEM* pElems, LONG* nFetched) override;
    STDMETHODIMP Reset() override { return S_FALSE; }
    STDMETHODIMP Skip(ULONG) override { return S_FALSE; }
    STDMETHODIMP Clone(IZvEnumFileItems** piCloned) override;
};

} // namespace tv::hub
