// Base classes of the test provider's objects: every method of a MAPI interface answers
// MAPI_E_NO_SUPPORT until a class overrides it, and IUnknown is counted here. Only what the
// suite's mail objects call has real behaviour.
#pragma once
#include <windows.h>
#include <mapix.h>
#include <mapidefs.h>
#include <atomic>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace tv::mapitest {

#define TV_MAPI_STUB { return MAPI_E_NO_SUPPORT; }

// The interface ids of the MAPI interfaces the provider answers (OLE-style GUIDs).
constexpr GUID MapiIid(unsigned long first) { return {first, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
inline constexpr GUID kIidSession = MapiIid(0x00020300);
inline constexpr GUID kIidTable = MapiIid(0x00020301);
inline constexpr GUID kIidProp = MapiIid(0x00020303);
inline constexpr GUID kIidStore = MapiIid(0x00020306);
inline constexpr GUID kIidMessage = MapiIid(0x00020307);
inline constexpr GUID kIidContainer = MapiIid(0x0002030B);
inline constexpr GUID kIidFolder = MapiIid(0x0002030C);

template <class Interface>
class Counted : public Interface {
  public:
    Counted() = default;
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    virtual ~Counted() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !Answers(riid))
            return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        long left = --refs_;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

  protected:
    virtual bool Answers(REFIID riid) const = 0;

  private:
    std::atomic<long> refs_{1};
};

class TableStub : public Counted<IMAPITable> {
  public:
    MAPI_IMAPITABLE_METHODS(TV_MAPI_STUB)
};

class SessionStub : public Counted<IMAPISession> {
  public:
    MAPI_IMAPISESSION_METHODS(TV_MAPI_STUB)
};

class StoreStub : public Counted<IMsgStore> {
  public:
    MAPI_IMAPIPROP_METHODS(TV_MAPI_STUB)
    MAPI_IMSGSTORE_METHODS(TV_MAPI_STUB)
};

class FolderStub : public Counted<IMAPIFolder> {
  public:
    MAPI_IMAPIPROP_METHODS(TV_MAPI_STUB)
    MAPI_IMAPICONTAINER_METHODS(TV_MAPI_STUB)
    MAPI_IMAPIFOLDER_METHODS(TV_MAPI_STUB)
};

class MessageStub : public Counted<IMessage> {
  public:
    MAPI_IMAPIPROP_METHODS(TV_MAPI_STUB)
    MAPI_IMESSAGE_METHODS(TV_MAPI_STUB)
};

} // namespace tv::mapitest

#pragma GCC diagnostic pop
