#include "ZvBZIPC.h"
#include "BzipFiles.h"
#include "BzipMessages.h"
#include "ErrorInfo.h"
#include <bzlib.h>
#include <new>

namespace tv::bzip {

namespace {

// The control's message for a result code of the bzip2 library.
UINT MessageForLibraryResult(int result) {
    switch (result) {
    case BZ_SEQUENCE_ERROR:
        return IDS_BZIP_SEQUENCE_ERROR;
    case BZ_PARAM_ERROR:
        return IDS_BZIP_PARAM_ERROR;
    case BZ_MEM_ERROR:
        return IDS_BZIP_MEMORY_ERROR;
    case BZ_DATA_ERROR:
        return IDS_BZIP_DATA_ERROR;
    case BZ_DATA_ERROR_MAGIC:
        return IDS_BZIP_MAGIC_ERROR;
    case BZ_IO_ERROR:
        return IDS_BZIP_IO_ERROR;
    case BZ_UNEXPECTED_EOF:
        return IDS_BZIP_UNEXPECTED_EOF;
    case BZ_OUTBUFF_FULL:
        return IDS_BZIP_OUTBUFF_FULL;
    case BZ_CONFIG_ERROR:
        return IDS_BZIP_CONFIG_ERROR;
    default:
        return IDS_BZIP_SEQUENCE_ERROR;
    }
}

using BufferOperation = int (*)(const CodecSettings&, const std::uint8_t*, std::size_t, std::uint8_t*,
                                unsigned int*);

} // namespace

HRESULT ZvBZIPC::Create(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    ZvBZIPC* object = new (std::nothrow) ZvBZIPC(outer);
    if (!object)
        return E_OUTOFMEMORY;
    // The first reference belongs to the object's own unknown; handing out the requested
    // interface adds one, and dropping the first leaves the caller's.
    HRESULT hr = object->own_.QueryInterface(riid, ppv);
    object->own_.Release();
    return hr;
}

ZvBZIPC::ZvBZIPC(IUnknown* outer) : controlling_(outer ? outer : &own_) {}

STDMETHODIMP ZvBZIPC::OwnUnknown::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown))
        *ppv = static_cast<IUnknown*>(this);
    else if (IsEqualIID(riid, IID_IZvBZIPC) || IsEqualIID(riid, IID_IDispatch))
        *ppv = static_cast<IZvBZIPC*>(&object_);
    else if (IsEqualIID(riid, IID_IZvBZIPR))
        *ppv = static_cast<IZvBZIPR*>(&object_);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
        *ppv = static_cast<ISupportErrorInfo*>(&object_);
    else
        return E_NOINTERFACE;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) ZvBZIPC::OwnUnknown::Release() {
    long left = --refs_;
    if (left == 0)
        delete &object_;
    return static_cast<ULONG>(left);
}

CodecSettings ZvBZIPC::Settings() const {
    CodecSettings settings;
    settings.blockSize = static_cast<int>(blockSize_);
    settings.workFactor = static_cast<int>(workFactor_);
    settings.smallMemory = isSmall_ != 0;
    return settings;
}

HRESULT ZvBZIPC::Report(UINT messageId) {
    return com::SetComErrorInfo(CLSID_ZvBZIPC, messageId, IID_IZvBZIPC, 0, ThisModule());
}

HRESULT ZvBZIPC::ReportLibraryResult(int result) {
    if (result == BZ_OK)
        return S_OK;
    return Report(MessageForLibraryResult(result));
}

namespace {

// Runs a one-shot buffer operation; *nDestLen is the capacity on entry, the length on return.
int RunBufferOperation(BufferOperation operation, const CodecSettings& settings, long sourceCount,
                       const byte* source, long* destLength, byte* dest) {
    if (!destLength)
        return BZ_PARAM_ERROR;
    if (sourceCount < 0 || *destLength < 0) {
        *destLength = 0;
        return BZ_PARAM_ERROR;
    }
    unsigned int length = static_cast<unsigned int>(*destLength);
    int result = operation(settings, source, static_cast<std::size_t>(sourceCount), dest, &length);
    *destLength = static_cast<long>(length);
    return result;
}

} // namespace

STDMETHODIMP ZvBZIPC::ZipBuff(long nSrcCount, byte* pSrcBuff, long* nDestLen, byte* pDestBuff) {
    return ReportLibraryResult(
        RunBufferOperation(CompressBuffer, Settings(), nSrcCount, pSrcBuff, nDestLen, pDestBuff));
}

STDMETHODIMP ZvBZIPC::UnZipBuff(long nSrcCount, byte* pSrcBuff, long* nDestLen, byte* pDestBuff) {
    return ReportLibraryResult(
        RunBufferOperation(ExpandBuffer, Settings(), nSrcCount, pSrcBuff, nDestLen, pDestBuff));
}

STDMETHODIMP ZvBZIPC::ZipBuff(VARIANT, VARIANT*) {
    return E_NOTIMPL;
}
STDMETHODIMP ZvBZIPC::UnZipBuff(VARIANT, VARIANT*) {
    return E_NOTIMPL;
}

HRESULT ZvBZIPC::RunFileOperation(BSTR sourcePath, BSTR destinationPath, StreamOperation operation) {
    SourceFile source;
    if (!sourcePath || !source.Open(sourcePath))
        return Report(IDS_BZIP_CANT_OPEN_INPUT);
    ReplacingDestinationFile destination;
    if (!destinationPath || !destination.Create(destinationPath))
        return Report(IDS_BZIP_CANT_OPEN_INPUT);
    int result = operation(Settings(), source, destination);
    if (result != BZ_OK)
        return ReportLibraryResult(result); // the temporary file goes with `destination`
    source.Close();                         // the destination may name the source itself
    if (!destination.Commit())
        return Report(IDS_BZIP_IO_ERROR);
    return S_OK;
}

STDMETHODIMP ZvBZIPC::ZipFile(BSTR strSrcFile, BSTR strDestFile) {
    return RunFileOperation(strSrcFile, strDestFile, CompressStream);
}

STDMETHODIMP ZvBZIPC::UnZipFile(BSTR strSrcFile, BSTR strDestFile) {
    return RunFileOperation(strSrcFile, strDestFile, ExpandStream);
}

STDMETHODIMP ZvBZIPC::get_nBlockSize(long* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = blockSize_;
    return S_OK;
}

STDMETHODIMP ZvBZIPC::put_nBlockSize(long newVal) {
    if (newVal < 1 || newVal > 9)
        return Report(IDS_BZIP_BLOCK_SIZE_RANGE);
    blockSize_ = newVal;
    return S_OK;
}

STDMETHODIMP ZvBZIPC::get_nWorkFactor(long* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = workFactor_;
    return S_OK;
}

STDMETHODIMP ZvBZIPC::put_nWorkFactor(long newVal) {
    if (newVal < 0 || newVal > 250)
        return Report(IDS_BZIP_WORK_FACTOR_RANGE);
    workFactor_ = newVal;
    return S_OK;
}

STDMETHODIMP ZvBZIPC::get_isSmall(long* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = isSmall_;
    return S_OK;
}

STDMETHODIMP ZvBZIPC::put_isSmall(long newVal) {
    isSmall_ = newVal;
    return S_OK;
}

STDMETHODIMP ZvBZIPC::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IZvBZIPC) || IsEqualIID(riid, IID_IZvBZIPR) ? S_OK : S_FALSE;
}

} // namespace tv::bzip
