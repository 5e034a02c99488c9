// ZvBZIPC: the compression control. Buffers through the custom interface IZvBZIPR, files and
// the three properties through both IZvBZIPR and the dual IZvBZIPC. The object can be
// aggregated: its interfaces delegate IUnknown to the controlling unknown.
#pragma once
#include "BzipCodec.h"
#include "ComObject.h"
#include "TypeInfoDispatch.h"
#include "ZvBZIP.h"
#include <atomic>

namespace tv::bzip {

HMODULE ThisModule();

class ZvBZIPC final : public IZvBZIPC, public IZvBZIPR, public ISupportErrorInfo {
  public:
    // Class factory entry: `outer` non-null aggregates (then only IUnknown may be asked for).
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

    ZvBZIPC(const ZvBZIPC&) = delete;
    ZvBZIPC& operator=(const ZvBZIPC&) = delete;

    // IUnknown, delegated to the controlling unknown.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return controlling_->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return controlling_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return controlling_->Release(); }

    // IDispatch, described by the type library embedded in this module.
    TV_DUAL_DISPATCH(IZvBZIPC, dispatch_)

    // IZvBZIPR buffers
    STDMETHODIMP ZipBuff(long nSrcCount, byte* pSrcBuff, long* nDestLen, byte* pDestBuff) override;
    STDMETHODIMP UnZipBuff(long nSrcCount, byte* pSrcBuff, long* nDestLen, byte* pDestBuff) override;
    // IZvBZIPC buffers (not offered to scripts)
    STDMETHODIMP ZipBuff(VARIANT aSrcBuff, VARIANT* pDestBuff) override;
    STDMETHODIMP UnZipBuff(VARIANT aSrcBuff, VARIANT* pDestBuff) override;

    // Both interfaces
    STDMETHODIMP ZipFile(BSTR strSrcFile, BSTR strDestFile) override;
    STDMETHODIMP UnZipFile(BSTR strSrcFile, BSTR strDestFile) override;
    STDMETHODIMP get_nBlockSize(long* pVal) override;
    STDMETHODIMP put_nBlockSize(long newVal) override;
    STDMETHODIMP get_nWorkFactor(long* pVal) override;
    STDMETHODIMP put_nWorkFactor(long newVal) override;
    STDMETHODIMP get_isSmall(long* pVal) override;
    STDMETHODIMP put_isSmall(long newVal) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  private:
    // The object's own IUnknown: answers the interfaces and owns the reference count.
    class OwnUnknown final : public IUnknown {
      public:
        explicit OwnUnknown(ZvBZIPC& object) : object_(object) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
        STDMETHODIMP_(ULONG) Release() override;

      private:
        ZvBZIPC& object_;
        std::atomic<long> refs_{1};
    };

    explicit ZvBZIPC(IUnknown* outer);
    ~ZvBZIPC() = default;

    using StreamOperation = int (*)(const CodecSettings&, ByteSource&, ByteSink&);
    HRESULT RunFileOperation(BSTR source, BSTR destination, StreamOperation operation);
    HRESULT ReportLibraryResult(int result);
    HRESULT Report(UINT messageId);
    CodecSettings Settings() const;

    OwnUnknown own_{*this};
    IUnknown* controlling_;
    com::TypeInfoDispatch dispatch_{IID_IZvBZIPC};
    com::ModuleLockHolder<true> moduleLock_;
    long blockSize_ = 1;
    long workFactor_ = 0;
    long isSmall_ = 0;
};

// The class object: creates the control, aggregated or not.
class ZvBZIPCFactory final : public com::ComObject<ZvBZIPCFactory, IClassFactory> {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return ZvBZIPC::Create(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            com::ModuleLock::Lock();
        else
            com::ModuleLock::Unlock();
        return S_OK;
    }
};

} // namespace tv::bzip
