// The HTTP client through COM against the test server the wrapper script runs on 127.0.0.1.
#include "ComPtr.h"
#include "Handles.h"
#include "ZvSimpleHTTP.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// The test's paths are plain ASCII.
std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

using tv::com::ComPtr;

std::string ReadText(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::wstring& path, const std::string& data) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string Payload(std::size_t size) {
    std::string data(size, '\0');
    unsigned state = 11;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 23);
    }
    return data;
}

class Bstr {
  public:
    explicit Bstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
    operator BSTR() const { return value_.Get(); }

  private:
    tv::com::UniqueBstr value_;
};

std::wstring ErrorDescription(std::wstring* source = nullptr) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"<none>";
    tv::com::UniqueBstr text;
    info->GetDescription(text.Put());
    if (source) {
        tv::com::UniqueBstr from;
        info->GetSource(from.Put());
        *source = from.Get() ? from.Get() : L"";
    }
    return text.Get() ? text.Get() : L"";
}

void SetUserString(const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

class SimpleHttpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const wchar_t* port = _wgetenv(L"TV_HTTP_PORT");
        const wchar_t* root = _wgetenv(L"TV_HTTP_ROOT");
        if (!port || !root)
            GTEST_SKIP() << "run through http_test.sh, which starts the test server";
        base_ = std::wstring(L"http://127.0.0.1:") + port;
        root_ = root;
        ASSERT_TRUE(SUCCEEDED(apartment_.Result()));
        // Direct connections (the preconfigured mode would read $http_proxy) and a known agent.
        DWORD off = 0;
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                        L"ProxyEnable", REG_DWORD, &off, sizeof(off));
        SetUserString(L"Software\\Zelvan\\Tavrilon\\HTTP", nullptr, L"TavrilonTest/1.0");
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(L"Tavrilon.SimpleHTTP", &clsid), S_OK);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&http_)), S_OK);
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        local_ = current;
    }

    std::wstring Url(const std::wstring& path) const { return base_ + path; }
    std::wstring Served(const std::wstring& name) const { return root_ + L"\\" + name; }
    std::wstring Local(const std::wstring& name) const { return local_ + L"\\" + name; }

    tv::com::ComApartment apartment_;
    ComPtr<IZvSimpleHTTP> http_;
    std::wstring base_, root_, local_;
};

TEST_F(SimpleHttpTest, DownloadsWithAndWithoutTheReplyHeader) {
    const std::string payload = Payload(200000);
    WriteText(Served(L"payload.bin"), payload);
    WriteText(Served(L"zv-ok.bin"), "ok" + std::string(30, '-') + payload);

    ASSERT_EQ(http_->ImportFile(Bstr(Url(L"/static/payload.bin")), Bstr(Local(L"plain.out")), VARIANT_FALSE),
              S_OK);
    EXPECT_EQ(ReadText(Local(L"plain.out")), payload);
    ASSERT_EQ(http_->ImportFile(Bstr(Url(L"/static/zv-ok.bin?id=1")), Bstr(Local(L"zv.out")), VARIANT_TRUE),
              S_OK);
    EXPECT_EQ(ReadText(Local(L"zv.out")), payload);

    // The agent comes from the settings; a new BrowserType does not change the open session.
    EXPECT_EQ(ReadText(Served(L"last-agent.txt")), "TavrilonTest/1.0");
    ASSERT_EQ(http_->put_BrowserType(Bstr(L"Other/2.0")), S_OK);
    tv::com::UniqueBstr agent;
    ASSERT_EQ(http_->get_BrowserType(agent.Put()), S_OK);
    EXPECT_STREQ(agent.Get(), L"Other/2.0");
    ASSERT_EQ(http_->ImportFile(Bstr(Url(L"/static/payload.bin")), Bstr(Local(L"plain.out")), VARIANT_FALSE),
              S_OK);
    EXPECT_EQ(ReadText(Served(L"last-agent.txt")), "TavrilonTest/1.0");
}

TEST_F(SimpleHttpTest, FailedDownloadsLeaveTheLocalFileAlone) {
    WriteText(Served(L"payload.bin"), Payload(5000));
    WriteText(Served(L"zv-er.bin"), "ER" + std::string(30, ' ') + "data");
    WriteText(Served(L"zv-short.bin"), "OK");
    const std::wstring local = Local(L"kept.out");
    for (const wchar_t* url : {L"/nolength/payload.bin", L"/status/404", L"/status/500", L"/status/302",
                               L"/static/missing.bin", L"/static/payload.bin?a=1?b=2"}) {
        WriteText(local, "kept");
        EXPECT_EQ(http_->ImportFile(Bstr(Url(url)), Bstr(local), VARIANT_FALSE), E_FAIL)
            << std::string(url, url + wcslen(url));
        EXPECT_EQ(ReadText(local), "kept");
    }
    for (const wchar_t* name : {L"/static/zv-er.bin", L"/static/zv-short.bin"}) {
        EXPECT_EQ(http_->ImportFile(Bstr(Url(name)), Bstr(local), VARIANT_TRUE), E_FAIL);
        EXPECT_EQ(ReadText(local), "kept");
    }
    // https asks for a secure connection, which the plain test server cannot give.
    std::wstring secure = Url(L"/static/payload.bin");
    secure.replace(0, 4, L"https");
    EXPECT_EQ(http_->ImportFile(Bstr(secure), Bstr(local), VARIANT_FALSE), E_FAIL);
    EXPECT_EQ(http_->ImportFile(Bstr(L"ftp://127.0.0.1/x"), Bstr(local), VARIANT_FALSE), E_FAIL);
    EXPECT_EQ(ReadText(local), "kept");
}

TEST_F(SimpleHttpTest, UploadSendsTheMultipartBodyWithQueryFields) {
    CreateDirectoryW(Local(L"outbox").c_str(), nullptr);
    const std::string content = Payload(70000);
    WriteText(Local(L"outbox\\report.bin"), content);
    ASSERT_EQ(http_->ExportFile(Bstr(Local(L"outbox\\report.bin")),
                                Bstr(Url(L"/upload/ok?user=anna&na\"me=7&stop&late=1")), VARIANT_TRUE),
              S_OK);
    const std::string expected = "-----------------------------7d0b038a0aa4\r\n"
                                 "Content-Disposition: form-data; name=\"user\";\r\n\r\nanna\r\n"
                                 "-----------------------------7d0b038a0aa4\r\n"
                                 "Content-Disposition: form-data; name=\"na%22me\";\r\n\r\n7\r\n"
                                 "-----------------------------7d0b038a0aa4\r\n"
                                 "Content-Disposition: form-data; name=\"file1\"; filename=\"" +
                                 Narrow(Local(L"outbox\\report.bin")) + "\"\r\n"
                                 "Content-Type: application/octet-stream\r\n\r\n" +
                                 content + "\r\n-----------------------------7d0b038a0aa4--\r\n";
    EXPECT_EQ(ReadText(Served(L"posted.body")), expected);
    EXPECT_EQ(ReadText(Served(L"posted.path")), "/upload/ok");
    EXPECT_NE(
        ReadText(Served(L"posted.headers"))
            .find("Content-Type: multipart/form-data; boundary=---------------------------7d0b038a0aa4"),
        std::string::npos);

    // Without the reply convention any 2xx answer is success; the answer is read either way.
    WriteText(Local(L"empty.bin"), "");
    EXPECT_EQ(http_->ExportFile(Bstr(Local(L"empty.bin")), Bstr(Url(L"/upload/plain")), VARIANT_FALSE), S_OK);
    // The file name goes out exactly as the caller gave it.
    EXPECT_NE(ReadText(Served(L"posted.body")).find("filename=\"" + Narrow(Local(L"empty.bin")) + "\"\r\n"),
              std::string::npos);
}

TEST_F(SimpleHttpTest, UploadFailuresCarryTheirTexts) {
    WriteText(Local(L"up.bin"), "data");
    const Bstr file(Local(L"up.bin"));
    struct Case {
        const wchar_t* url;
        VARIANT_BOOL request;
        const wchar_t* text;
    };
    for (const Case& c : {Case{L"/upload/er", VARIANT_TRUE, L"HTTP server sent error"},
                          Case{L"/upload/short", VARIANT_TRUE, L"HTTP server sent error"},
                          Case{L"/upload/plain", VARIANT_TRUE, L"HTTP server sent error"},
                          Case{L"/upload/fail", VARIANT_FALSE, L"HTTP server sent error"},
                          Case{L"/upload/ok?a=1?b=2", VARIANT_FALSE, L"Invalid URL format"}}) {
        EXPECT_EQ(http_->ExportFile(file, Bstr(Url(c.url)), c.request), DISP_E_EXCEPTION);
        std::wstring source;
        EXPECT_EQ(ErrorDescription(&source), c.text);
        EXPECT_EQ(source, L"Tavrilon.SimpleHTTP.1");
    }
    EXPECT_EQ(http_->ExportFile(Bstr(Local(L"missing.bin")), Bstr(Url(L"/upload/ok")), VARIANT_FALSE),
              DISP_E_EXCEPTION);
    EXPECT_EQ(ErrorDescription(), L"Failed to open local file");
}

TEST_F(SimpleHttpTest, StateAndScriptFace) {
    VARIANT_BOOL value = VARIANT_FALSE;
    EXPECT_EQ(http_->get_AutoDialup(&value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
    EXPECT_EQ(http_->put_AutoDialup(1), S_OK); // only VARIANT_TRUE switches it on
    EXPECT_EQ(http_->get_AutoDialup(&value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);
    EXPECT_EQ(http_->get_IsOnline(&value), S_OK);
    EXPECT_EQ(http_->get_IsDialup(nullptr), E_POINTER);
    EXPECT_EQ(http_->Dial(nullptr), E_POINTER);
    tv::com::UniqueBstr text;
    EXPECT_EQ(http_->ImportString(Bstr(Url(L"/x")), VARIANT_FALSE, text.Put()), E_NOTIMPL);
    EXPECT_EQ(http_->ExportString(Bstr(L"x"), Bstr(Url(L"/x")), VARIANT_FALSE), E_NOTIMPL);

    // A script's call: the upload's text arrives in the exception record.
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"ExportFile");
    ASSERT_EQ(http_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    VARIANT args[3];
    args[2].vt = VT_BSTR;
    args[2].bstrVal = SysAllocString(L"C:\\nothing.bin");
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocString(L"gopher://x?y?z");
    args[0].vt = VT_BOOL;
    args[0].boolVal = VARIANT_FALSE;
    DISPPARAMS params{args, nullptr, 3, 0};
    EXCEPINFO exception{};
    EXPECT_EQ(http_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &exception,
                            nullptr),
              DISP_E_EXCEPTION);
    EXPECT_STREQ(exception.bstrDescription, L"Invalid URL format");
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    SysFreeString(args[2].bstrVal);
    SysFreeString(args[1].bstrVal);
}

} // namespace
