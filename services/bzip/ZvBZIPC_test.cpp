// The compression control through COM, created by its ProgID as scripts and pages create it.
#include "ComPtr.h"
#include "Handles.h"
#include "ZvBZIP.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using tv::com::ComPtr;
using Bytes = std::vector<std::uint8_t>;

constexpr HRESULT Message(UINT id) {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, id);
}

Bytes SampleData(std::size_t size, std::uint32_t seed = 3) {
    Bytes data(size);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        data[i] = (i / 300) % 2 ? static_cast<std::uint8_t>("tavrilon"[i % 8])
                                : static_cast<std::uint8_t>(state >> 27);
    }
    return data;
}

Bytes ReadFileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::wstring& path, const Bytes& data) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"";
    tv::com::UniqueBstr text;
    info->GetDescription(text.Put());
    return text.Get() ? text.Get() : L"";
}

std::wstring ErrorSource() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"";
    tv::com::UniqueBstr text;
    info->GetSource(text.Put());
    return text.Get() ? text.Get() : L"";
}

class Bstr {
  public:
    explicit Bstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
    operator BSTR() const { return value_.Get(); }

  private:
    tv::com::UniqueBstr value_;
};

// A folder of its own under the test's working folder, emptied first.
std::wstring ScratchFolder(const wchar_t* name) {
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring folder = std::wstring(current) + L"\\bzip-scratch-" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return folder;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return names;
}

class ZvBZIPCTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment_.Result()));
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(L"Tavrilon.ZvBZIPC", &clsid), S_OK);
        ASSERT_TRUE(IsEqualCLSID(clsid, CLSID_ZvBZIPC));
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control_)), S_OK);
        ASSERT_EQ(control_->QueryInterface(IID_PPV_ARGS(&buffers_)), S_OK);
    }

    Bytes Zip(const Bytes& data) {
        long length = static_cast<long>(data.size() + data.size() / 100 + 600);
        Bytes out(static_cast<std::size_t>(length));
        EXPECT_EQ(buffers_->ZipBuff(static_cast<long>(data.size()), const_cast<byte*>(data.data()), &length,
                                    out.data()),
                  S_OK);
        out.resize(static_cast<std::size_t>(length));
        return out;
    }

    tv::com::ComApartment apartment_;
    ComPtr<IZvBZIPC> control_;
    ComPtr<IZvBZIPR> buffers_;
};

TEST_F(ZvBZIPCTest, PropertiesKeepTheirLimitsAndReportMessages) {
    long value = -1;
    EXPECT_EQ(control_->get_nBlockSize(&value), S_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(control_->get_nWorkFactor(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(buffers_->get_isSmall(&value), S_OK);
    EXPECT_EQ(value, 0);

    EXPECT_EQ(control_->put_nBlockSize(9), S_OK);
    for (long wrong : {0L, 10L, -1L}) {
        EXPECT_EQ(control_->put_nBlockSize(wrong), Message(512));
        EXPECT_EQ(ErrorDescription(), L"BlockCount should be between 1 and 9 inclusive");
    }
    EXPECT_EQ(buffers_->put_nBlockSize(0), static_cast<HRESULT>(0x80040200));
    EXPECT_EQ(ErrorSource(), L"Tavrilon.ZvBZIPC.1");
    EXPECT_EQ(buffers_->get_nBlockSize(&value), S_OK);
    EXPECT_EQ(value, 9);

    EXPECT_EQ(buffers_->put_nWorkFactor(250), S_OK);
    EXPECT_EQ(buffers_->put_nWorkFactor(251), Message(513));
    EXPECT_EQ(ErrorDescription(), L"WorkFactor should be between 0 and 250 inclusive");
    EXPECT_EQ(control_->put_nWorkFactor(-1), Message(513));
    EXPECT_EQ(control_->get_nWorkFactor(&value), S_OK);
    EXPECT_EQ(value, 250);

    EXPECT_EQ(control_->put_isSmall(7), S_OK);
    EXPECT_EQ(buffers_->get_isSmall(&value), S_OK);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(control_->get_nBlockSize(nullptr), E_POINTER);
}

TEST_F(ZvBZIPCTest, BuffersRoundTripForEveryBlockSizeAndWorkFactor) {
    const Bytes data = SampleData(12000);
    for (long blockSize = 1; blockSize <= 9; ++blockSize) {
        ASSERT_EQ(buffers_->put_nBlockSize(blockSize), S_OK);
        for (long workFactor = 0; workFactor <= 250; ++workFactor) {
            ASSERT_EQ(buffers_->put_nWorkFactor(workFactor), S_OK);
            ASSERT_EQ(buffers_->put_isSmall(workFactor % 2), S_OK);
            Bytes packed = Zip(data);
            ASSERT_FALSE(packed.empty());
            long length = static_cast<long>(data.size());
            Bytes out(data.size());
            ASSERT_EQ(
                buffers_->UnZipBuff(static_cast<long>(packed.size()), packed.data(), &length, out.data()),
                S_OK)
                << blockSize << "/" << workFactor;
            ASSERT_EQ(length, static_cast<long>(data.size()));
            ASSERT_EQ(out, data) << blockSize << "/" << workFactor;
        }
    }
}

TEST_F(ZvBZIPCTest, BufferFailuresMapToTheMessages) {
    const Bytes data = SampleData(30000);
    Bytes packed = Zip(data);

    Bytes out(data.size());
    long tooShort = static_cast<long>(data.size() - 1);
    EXPECT_EQ(buffers_->UnZipBuff(static_cast<long>(packed.size()), packed.data(), &tooShort, out.data()),
              Message(517));
    EXPECT_EQ(ErrorDescription(), L"Size of the compressed data exceeds *pDestLen");
    EXPECT_EQ(tooShort, 0);

    // A truncated stream is an error (with room to spare, so it cannot read as a full buffer).
    Bytes roomy(data.size() + 100);
    long length = static_cast<long>(roomy.size());
    EXPECT_EQ(
        buffers_->UnZipBuff(static_cast<long>(packed.size() - 10), packed.data(), &length, roomy.data()),
        Message(521));
    length = static_cast<long>(out.size());
    Bytes notBzip = SampleData(100);
    EXPECT_EQ(buffers_->UnZipBuff(100, notBzip.data(), &length, out.data()), Message(520));
    EXPECT_EQ(ErrorDescription(), L"Compressed data doesn't begin with the right magic bytes");
    packed[packed.size() / 2] ^= 0x21;
    length = static_cast<long>(out.size());
    EXPECT_EQ(buffers_->UnZipBuff(static_cast<long>(packed.size()), packed.data(), &length, out.data()),
              Message(519));

    length = 100;
    EXPECT_EQ(buffers_->ZipBuff(100, notBzip.data(), &length, nullptr), Message(515));
    EXPECT_EQ(ErrorDescription(), L"pDestBuff is NULL or pDestLen is NULL");
    EXPECT_EQ(buffers_->ZipBuff(100, notBzip.data(), nullptr, out.data()), Message(515));

    VARIANT in;
    VariantInit(&in);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(control_->ZipBuff(in, &result), E_NOTIMPL);
    EXPECT_EQ(control_->UnZipBuff(in, &result), E_NOTIMPL);
}

TEST_F(ZvBZIPCTest, FilesRoundTripForEveryBlockSize) {
    const std::wstring folder = ScratchFolder(L"roundtrip");
    const Bytes data = SampleData(300000);
    const std::wstring source = folder + L"\\data.bin";
    WriteFileBytes(source, data);
    for (long blockSize = 1; blockSize <= 9; ++blockSize) {
        ASSERT_EQ(control_->put_nBlockSize(blockSize), S_OK);
        ASSERT_EQ(control_->put_nWorkFactor(blockSize * 27), S_OK);
        const std::wstring packed = folder + L"\\data.bz2";
        const std::wstring unpacked = folder + L"\\data.out";
        ASSERT_EQ(control_->ZipFile(Bstr(source), Bstr(packed)), S_OK);
        ASSERT_EQ(buffers_->UnZipFile(Bstr(packed), Bstr(unpacked)), S_OK);
        EXPECT_EQ(ReadFileBytes(unpacked), data) << blockSize;
    }

    // An empty source gives a valid compressed file; the result may replace its own source.
    const std::wstring empty = folder + L"\\empty.bin";
    WriteFileBytes(empty, {});
    ASSERT_EQ(control_->ZipFile(Bstr(empty), Bstr(empty)), S_OK);
    EXPECT_FALSE(ReadFileBytes(empty).empty());
    ASSERT_EQ(control_->UnZipFile(Bstr(empty), Bstr(empty)), S_OK);
    EXPECT_TRUE(ReadFileBytes(empty).empty());
}

TEST_F(ZvBZIPCTest, FailedFileOperationsLeaveNoPartialOutput) {
    const std::wstring folder = ScratchFolder(L"failures");
    const Bytes data = SampleData(200000);
    const std::wstring source = folder + L"\\data.bin";
    const std::wstring packed = folder + L"\\data.bz2";
    WriteFileBytes(source, data);
    ASSERT_EQ(control_->ZipFile(Bstr(source), Bstr(packed)), S_OK);

    EXPECT_EQ(control_->ZipFile(Bstr(folder + L"\\missing.bin"), Bstr(folder + L"\\x.bz2")), Message(522));
    EXPECT_EQ(ErrorDescription(), L"Can't open input file");
    EXPECT_EQ(control_->ZipFile(Bstr(source), Bstr(folder + L"\\no-such-folder\\x.bz2")), Message(522));
    EXPECT_EQ(control_->UnZipFile(Bstr(packed), Bstr(folder + L"\\no-such-folder\\x.bin")), Message(522));

    // Not bzip2 data: 520, and the existing destination keeps its content.
    const std::wstring keep = folder + L"\\keep.bin";
    const Bytes kept = {'k', 'e', 'e', 'p'};
    WriteFileBytes(keep, kept);
    EXPECT_EQ(control_->UnZipFile(Bstr(source), Bstr(keep)), Message(520));
    EXPECT_EQ(ReadFileBytes(keep), kept);

    // Truncated: the stream end is required; nothing is left under the destination's name.
    Bytes truncated = ReadFileBytes(packed);
    truncated.resize(truncated.size() * 2 / 3);
    const std::wstring cut = folder + L"\\cut.bz2";
    WriteFileBytes(cut, truncated);
    EXPECT_EQ(control_->UnZipFile(Bstr(cut), Bstr(folder + L"\\cut.out")), Message(521));
    EXPECT_EQ(ErrorDescription(), L"Compressed data ends unexpectedly");
    EXPECT_FALSE(Exists(folder + L"\\cut.out"));

    // Data after the stream end is ignored.
    Bytes trailed = ReadFileBytes(packed);
    trailed.insert(trailed.end(), {'j', 'u', 'n', 'k', 0, 1, 2});
    const std::wstring trailing = folder + L"\\trailing.bz2";
    WriteFileBytes(trailing, trailed);
    EXPECT_EQ(control_->UnZipFile(Bstr(trailing), Bstr(folder + L"\\trailing.out")), S_OK);
    EXPECT_EQ(ReadFileBytes(folder + L"\\trailing.out"), data);

    // No temporary file stays behind after the failures.
    for (const std::wstring& name : FilesIn(folder))
        EXPECT_NE(name.rfind(L"zvb", 0), 0u) << std::string(name.begin(), name.end());
}

TEST_F(ZvBZIPCTest, AutomationCallsCarryTheMessages) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"nBlockSize");
    ASSERT_EQ(control_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 10;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    EXCEPINFO exception{};
    EXPECT_EQ(control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                               &exception, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, Message(512));
    EXPECT_STREQ(exception.bstrDescription, L"BlockCount should be between 1 and 9 inclusive");
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(control_->QueryInterface(IID_PPV_ARGS(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IZvBZIPR), S_OK);
}

// A controlling object that counts the references its inner control forwards to it.
class CountingOuter final : public IUnknown {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

TEST_F(ZvBZIPCTest, CanBeAggregated) {
    CountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ZvBZIPC, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&inner)),
              S_OK);
    outer.inner = inner;
    IZvBZIPR* through = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IZvBZIPR, reinterpret_cast<void**>(&through)), S_OK);
    EXPECT_EQ(outer.refs, 2u); // the reference went to the controlling object
    IUnknown* back = nullptr;
    ASSERT_EQ(through->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back, static_cast<IUnknown*>(&outer));
    back->Release();
    through->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(inner->Release(), 0u);

    IZvBZIPC* wrong = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_ZvBZIPC, &outer, CLSCTX_INPROC_SERVER, IID_IZvBZIPC,
                               reinterpret_cast<void**>(&wrong)),
              CLASS_E_NOAGGREGATION);
}

TEST_F(ZvBZIPCTest, RegisteredAsAnActiveXControl) {
    auto value = [](const std::wstring& key) {
        wchar_t text[MAX_PATH] = {};
        LONG size = sizeof(text);
        if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), text, &size) != ERROR_SUCCESS)
            return std::wstring(L"<missing>");
        return std::wstring(text);
    };
    const std::wstring key = L"CLSID\\{04564321-364A-45FB-A946-EBF50B1188F1}";
    EXPECT_EQ(value(key), L"ZvBZIPC Class");
    EXPECT_EQ(value(key + L"\\Control"), L"");
    EXPECT_EQ(value(key + L"\\Insertable"), L"");
    EXPECT_EQ(value(key + L"\\Programmable"), L"");
    EXPECT_EQ(value(key + L"\\MiscStatus"), L"0");
    EXPECT_EQ(value(key + L"\\MiscStatus\\1"), L"132497");
    EXPECT_EQ(value(key + L"\\Version"), L"1.0");
    EXPECT_EQ(value(key + L"\\TypeLib"), L"{0B819037-B9BD-4377-BCC8-470CA0A70348}");
    const std::wstring bitmap = value(key + L"\\ToolboxBitmap32");
    ASSERT_GT(bitmap.size(), 5u);
    EXPECT_EQ(bitmap.substr(bitmap.size() - 5), L", 101");
    EXPECT_EQ(value(key + L"\\ProgID"), L"Tavrilon.ZvBZIPC.1");
}

// Files shared with the system's bzip2 through the folder the wrapper script names: its
// "*.bin.bz2" files (made by bzip2) expand here; each "*.bin" is compressed here with every
// block size into "*.bin.control-<n>.bz2", which the script expands with "bzip2 -d".
TEST_F(ZvBZIPCTest, SharesFilesWithTheSystemBzip2) {
    const wchar_t* folderVariable = _wgetenv(L"TV_BZIP_INTEROP_DIR");
    if (!folderVariable)
        GTEST_SKIP() << "TV_BZIP_INTEROP_DIR not set";
    const std::wstring folder = folderVariable;
    int checked = 0;
    for (const std::wstring& name : FilesIn(folder)) {
        if (name.size() < 4 || name.substr(name.size() - 4) != L".bin")
            continue;
        const std::wstring original = folder + L"\\" + name;
        const std::wstring expanded = original + L".control-expanded";
        for (long small : {0L, 1L}) {
            ASSERT_EQ(control_->put_isSmall(small), S_OK);
            ASSERT_EQ(control_->UnZipFile(Bstr(original + L".bz2"), Bstr(expanded)), S_OK);
            EXPECT_EQ(ReadFileBytes(expanded), ReadFileBytes(original))
                << std::string(name.begin(), name.end());
        }
        for (long blockSize = 1; blockSize <= 9; ++blockSize) {
            ASSERT_EQ(control_->put_nBlockSize(blockSize), S_OK);
            ASSERT_EQ(control_->ZipFile(Bstr(original),
                                        Bstr(original + L".control-" + std::to_wstring(blockSize) + L".bz2")),
                      S_OK);
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

} // namespace
