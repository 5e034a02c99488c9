#include "BridgeTestSupport.h"
#include "AnsiText.h"
#include "UiHarness.h"
#include <fstream>
#include <sstream>

namespace tv::pimbridge::test {

const char kFixtureStore[] = R"(address Ann Example|ann@example.org
address Dave Reader|dave
folder Inbox
message
prop 0037001E Hello from Carol
prop 1000001E First line\nSecond line
prop 0C1A001E Carol Sender
prop 0C1F001E carol@example.org
prop 0E070003 0
prop 00170003 2
prop 0E060040 2026-11-30 08:15:00
prop 30080040 2026-11-30 09:00:00
recipient
rprop 0C150003 1
rprop 3001001E Dave Reader
rprop 3003001E dave@example.org
recipient
rprop 0C150003 2
rprop 3001001E Erin Copy
rprop 3003001E erin@example.org
end
message
prop 0037001E Internal note
prop 0C1A001E Frank Internal
prop 0C1F001E /O=ORG/CN=FRANK
prop 0E070003 1
prop 00170003 1
prop 0E060040 2026-12-01 10:00:00
recipient
rprop 0C150003 1
rprop 3001001E Gina To
rprop 3003001E gina@example.org
end
folder Sent Items
message
prop 0037001E Sent one
prop 004E0040 2026-10-05 12:00:00
prop 0E060040 2026-10-01 00:00:00
prop 30080040 2026-10-06 00:00:00
prop 0C1A001E Me
prop 0C1F001E me@example.org
end
folder Drafts
message
prop 0037001E Draft one
prop 30080040 2026-09-09 09:09:09
end
)";

const wchar_t kPrelude[] = LR"(
function hr(f) { try { f(); return "0"; } catch (e) { return (e.number >>> 0).toString(16); } }
function make(progId) { return new ActiveXObject("Tavrilon." + progId); }
function recipient(name, address, type) { var r = make("ZvRecipient"); r.SetRecipient(name, address, type); return r; }
)";

std::wstring PrepareStore(const std::string& content, const wchar_t* name) {
    const std::wstring path = tv::test::ExeFolder() + L"\\" + name;
    std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << content;
    SetEnvironmentVariableW(L"TV_MAPI_STORE", path.c_str());
    return path;
}

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// The script's "dates" object: two methods answered by hand through IDispatch.
class Dates final : public IDispatch {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (!left)
            delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; i < count; ++i)
            ids[i] = _wcsicmp(names[i], L"Utc") == 0 ? 1 : _wcsicmp(names[i], L"DaysAgo") == 0 ? 2 : DISPID_UNKNOWN;
        return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        // Arguments arrive last first.
        auto number = [&](UINT index) {
            VARIANT copy;
            VariantInit(&copy);
            VariantChangeType(&copy, &params->rgvarg[params->cArgs - 1 - index], 0, VT_R8);
            return copy.dblVal;
        };
        SYSTEMTIME time{};
        DATE date = 0;
        if (id == 1 && params->cArgs == 6) {
            time.wYear = static_cast<WORD>(number(0));
            time.wMonth = static_cast<WORD>(number(1));
            time.wDay = static_cast<WORD>(number(2));
            time.wHour = static_cast<WORD>(number(3));
            time.wMinute = static_cast<WORD>(number(4));
            time.wSecond = static_cast<WORD>(number(5));
            SystemTimeToVariantTime(&time, &date);
        } else if (id == 2 && params->cArgs == 1) {
            GetSystemTime(&time);
            SystemTimeToVariantTime(&time, &date);
            date -= number(0);
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (result) {
            VariantInit(result);
            result->vt = VT_DATE;
            result->date = date;
        }
        return S_OK;
    }

  private:
    ULONG refs_ = 1;
};

} // namespace

Script::Script() {
    host_.Create();
    com::ComPtr<IDispatch> dates;
    dates.Attach(new Dates());
    host_.AddObject(com::UniqueBstr(SysAllocString(L"dates")).Get(), dates.Get(), false);
    host_.AddCode(com::UniqueBstr(SysAllocString(kPrelude)).Get());
}

std::string Script::Run(const std::wstring& code) {
    com::UniqueBstr text(SysAllocString(code.c_str()));
    if (FAILED(host_.AddCode(text.Get()))) {
        com::UniqueBstr error(host_.GetErrorText());
        return "error: " + com::ToAnsi(error.Get());
    }
    VARIANT result;
    VariantInit(&result);
    com::UniqueBstr name(SysAllocString(L"test"));
    HRESULT hr = host_.CallFunction(name.Get(), 0, nullptr, &result);
    if (FAILED(hr)) {
        com::UniqueBstr error(host_.GetErrorText());
        return "error: " + com::ToAnsi(error.Get());
    }
    std::string out;
    if (SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR)))
        out = com::ToAnsi(result.bstrVal);
    VariantClear(&result);
    return out;
}

ProviderState QueryProvider() {
    ProviderState state;
    using Query = void(WINAPI*)(long*, long*, long*);
    HMODULE provider = GetModuleHandleW(L"TestMapiProvider.dll");
    auto query = provider ? reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(provider, "TvMapiProviderState")))
                          : nullptr;
    if (query)
        query(&state.initialised, &state.extended, &state.simple);
    return state;
}

bool DeleteBridgeKeys(const std::string& deviceId) {
    const std::string path = "Software\\Zelvan\\Tavrilon\\DeviceList\\" + deviceId + "\\{4349BB09-7C65-4B86-B5E0-608733CD9654}";
    return RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()) == ERROR_SUCCESS &&
           RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()) == ERROR_SUCCESS;
}

DWORD ReadDword(const std::string& path, const char* name, DWORD missing) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return missing;
    return value;
}

MailClientSwitch::MailClientSwitch(const char* client) {
    char previous[256] = {};
    DWORD size = sizeof(previous);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Clients\\Mail", nullptr, RRF_RT_REG_SZ, nullptr, previous, &size) ==
        ERROR_SUCCESS)
        previous_ = previous;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Clients\\Mail", nullptr, REG_SZ, client,
                    static_cast<DWORD>(strlen(client) + 1));
}

MailClientSwitch::~MailClientSwitch() {
    if (previous_.empty())
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Clients\\Mail", nullptr);
    else
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Clients\\Mail", nullptr, REG_SZ, previous_.c_str(),
                        static_cast<DWORD>(previous_.size() + 1));
}

} // namespace tv::pimbridge::test
