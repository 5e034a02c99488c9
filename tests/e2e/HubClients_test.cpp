// Clients in other processes reach the hub in the running program: this test program through
// the custom interface with callbacks, and a script under cscript through the automation face.
#include "ComObject.h"
#include "ComPtr.h"
#include "E2eSupport.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace tv::e2e {
namespace {

using com::ComPtr;

// Records the callbacks of one operation in order and notes its end.
class RecordingCallback
    : public com::ComObject<RecordingCallback, IZvFileOperationCallback, IZvItemsInfoCallback> {
public:
    std::vector<std::string> calls;
    ITEMSINFO totals{};
    bool done = false;

    STDMETHODIMP OnOperationComplete() override {
        calls.push_back("complete");
        done = true;
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR item, LPSTR, LONG code) override {
        calls.push_back("item:" + std::string(item ? item : "") + ":" + std::to_string(code));
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR item, LONG) override {
        calls.push_back("init:" + std::string(item ? item : ""));
        return S_OK;
    }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }
    STDMETHODIMP OnOperationStart() override {
        calls.push_back("start");
        return S_OK;
    }
    STDMETHODIMP OnOperationProgress(ITEMSINFO info) override {
        totals = info;
        return S_OK;
    }
    STDMETHODIMP OnOperationComplete(LPSTR) override {
        calls.push_back("info complete");
        done = true;
        return S_OK;
    }

    // Dispatches this apartment's messages (the callbacks arrive through them) until the end.
    bool Wait() {
        const DWORD start = GetTickCount();
        while (!done && GetTickCount() - start < 20000) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
        return done;
    }
};

class HubClients : public testing::Test {
protected:
    static void SetUpTestSuite() {
        tree_ = MakeTestTree();
        program_ = new RunningProgram;
        ASSERT_TRUE(program_->Start());
    }
    static void TearDownTestSuite() {
        EXPECT_EQ(program_->Exit(), 0);
        delete program_;
    }
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelvanMgr,
                                                  reinterpret_cast<void**>(&hub_)));
    }
    void TearDown() override {
        hub_.Reset();
        CoUninitialize();
    }

    std::vector<std::string> List(const char* path) {
        ComPtr<IZvEnumFileItems> items;
        std::string text = path;
        EXPECT_EQ(hub_->EnumFileItems(text.data(), 31, &items), S_OK);
        std::vector<std::string> names;
        ZVFILEITEM item{};
        LONG fetched = 0;
        while (items && items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            names.emplace_back(item.strName ? item.strName : "");
            CoTaskMemFree(item.strName);
            CoTaskMemFree(item.strDesc);
            CoTaskMemFree(item.strIconFile);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    HRESULT Copy(std::vector<std::string> sources, std::vector<std::string> destinations, RecordingCallback* callback) {
        std::vector<LPSTR> s, d;
        for (auto& text : sources)
            s.push_back(text.data());
        for (auto& text : destinations)
            d.push_back(text.data());
        return hub_->CopyFileItems(static_cast<LONG>(s.size()), 260, s.data(), d.data(), callback);
    }

    static TestTree tree_;
    static RunningProgram* program_;
    ComPtr<IZelvanMgr> hub_;
};
TestTree HubClients::tree_;
RunningProgram* HubClients::program_ = nullptr;

TEST_F(HubClients, ACppClientListsCopiesAndEditsThroughTheProgram) {
    EXPECT_EQ(List(""), (std::vector<std::string>{"DevA", "DevB"}));
    EXPECT_EQ(List("DevA\\Docs"), std::vector<std::string>{"a.txt"});

    ComPtr<RecordingCallback> callback;
    com::MakeComObject(callback);
    const std::string one = tree_.pc + "\\one.txt";
    ASSERT_EQ(Copy({one}, {"DevA\\one.txt"}, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(callback->calls, (std::vector<std::string>{"init:" + one, "item:" + one + ":0", "complete"}));
    EXPECT_EQ(ReadFile(tree_.devices + "\\DevA\\one.txt"), "first");

    com::MakeComObject(callback);
    const std::string exported = tree_.pc + "\\exported.txt";
    ASSERT_EQ(Copy({"DevA\\Docs\\a.txt"}, {exported}, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(callback->calls.back(), "complete");
    EXPECT_EQ(ReadFile(exported), "device text");

    com::MakeComObject(callback);
    ASSERT_EQ(Copy({"DevA\\Docs\\a.txt"}, {"DevA\\copy.txt"}, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(ReadFile(tree_.devices + "\\DevA\\copy.txt"), "device text");

    // Between two devices, or with no device at all, nothing starts.
    EXPECT_EQ(Copy({"DevA\\Docs\\a.txt"}, {"DevB\\a.txt"}, callback.Get()), E_FAIL);
    EXPECT_EQ(Copy({"C:\\nowhere\\a"}, {"C:\\nowhere\\b"}, callback.Get()), E_FAIL);

    char folder[] = "DevA\\Made";
    ASSERT_EQ(hub_->CreateFolder(folder), S_OK);
    unsigned char error[260] = {};
    char from[] = "DevA\\copy.txt", to[] = "DevA\\renamed.txt";
    ASSERT_EQ(hub_->RenameFileItem(from, to, sizeof(error), error), S_OK);
    EXPECT_EQ(List("DevA"), (std::vector<std::string>{"Docs", "Made", "one.txt", "renamed.txt"}));

    com::MakeComObject(callback);
    char a[] = "DevA\\renamed.txt", b[] = "DevA\\Made", c[] = "DevA\\one.txt";
    LPSTR doomed[] = {a, b, c};
    ASSERT_EQ(hub_->DeleteFileItems(3, 260, doomed, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(List("DevA"), std::vector<std::string>{"Docs"});

    com::MakeComObject(callback);
    char docs[] = "DevA\\Docs";
    LPSTR query[] = {docs};
    ASSERT_EQ(hub_->GetItemsInfo(1, 260, query, callback.Get()), S_OK);
    ASSERT_TRUE(callback->Wait());
    EXPECT_EQ(callback->calls.front(), "start");
    EXPECT_EQ(callback->calls.back(), "info complete");
    EXPECT_EQ(callback->totals.files, 1);
    EXPECT_EQ(callback->totals.nTotalSize, 11);

    VOLUMEINFO volume{};
    char device[] = "DevA";
    ASSERT_EQ(hub_->GetVolumeInfo(device, &volume), S_OK);
    EXPECT_GT(volume.nBlockSize, 0);
    EXPECT_GT(volume.nFreeBlocks, 0);
}

TEST_F(HubClients, AScriptClientUnderCscriptDoesTheSame) {
    test::StartedProcess script;
    const std::wstring pc(tree_.pc.begin(), tree_.pc.end());
    ASSERT_TRUE(script.Start(L"cscript.exe //nologo \"" + ScriptFolder() + L"\\hub_client.js\" \"" + pc + L"\""));
    EXPECT_EQ(script.WaitForExit(120000), 0);
    EXPECT_EQ(ReadFile(tree_.pc + "\\from-device-js.txt"), "device text");
    EXPECT_EQ(List("DevA\\Docs"), std::vector<std::string>{"a.txt"});
}

} // namespace
} // namespace tv::e2e
