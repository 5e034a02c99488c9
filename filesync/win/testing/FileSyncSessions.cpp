#include "FileSyncSessions.h"

#include "FileSyncIds.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "ZvSyncMgr.h"
#include <commctrl.h>
#include <gtest/gtest.h>

namespace tv::filesync::testing {
namespace {

constexpr UINT kSynchronizeCommand = 0x4400; // the tray's synchronize command of the first device
constexpr DWORD kSessionTimeoutMs = 120000;
const char kScheduleKey[] = "Software\\Zelvan\\Tavrilon\\ZvSyncMgr";

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string ClsidText(REFCLSID clsid) {
    wchar_t wide[40] = {};
    StringFromGUID2(clsid, wide, ARRAYSIZE(wide));
    return Narrow(wide);
}

// The texts of the session dialog's synchronizer rows (the dialog is the program's).
std::string RowsOf(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_SYNC_LIST);
    std::string rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        rows += Narrow(test::ListViewItemText(list, i, 0)) + ": " + Narrow(test::ListViewItemText(list, i, 1)) + "\n";
    return rows;
}

} // namespace

std::string Read(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return "<missing>";
    return e2e::ReadFile(path);
}

void Write(const std::string& path, const std::string& text) {
    e2e::WriteFile(path, text);
}

std::string LanguageText(UINT id) {
    static HMODULE language = LoadLanguageLibrary(nullptr);
    return LoadLanguageString(language, id);
}

FileSyncSetting::FileSyncSetting(const SessionDevice& device, REFCLSID synchronizer, const std::string& pc,
                                 const std::vector<std::string>& masks, const std::string& tag)
    : registration_(device.Registration()) {
    only_ = OnlySynchronizer(synchronizer);
    previousRoot_ = e2e::UseOnlyEmulatedDevice(tag, registration_, device.name);
    e2e::SetUserNumber(registration_, "DisconnectionAlert", 0);
    e2e::SetUserNumber(registration_, "ConflictResolution", SSR_MANUAL_RESOLUTION);
    e2e::StoreScript(L"DeviceEvents", nullptr);
    RegDeleteTreeA(HKEY_CURRENT_USER, kScheduleKey);
    e2e::SetUserString(kScheduleKey, ClsidText(synchronizer).c_str(), device.strId + ";");
    CreateDirectoryA(pc.c_str(), nullptr);
    const std::string state = registration_ + "\\SyncDataBase";
    e2e::SetUserString(state, "SyncFolder", pc);
    e2e::SetUserNumber(state, "dwAttribute", 0);
    for (const std::string& mask : masks)
        e2e::SetUserString(state + "\\Masks", mask.c_str(), "");
}

FileSyncSetting::~FileSyncSetting() {
    if (keepDevice_)
        return;
    RegDeleteTreeA(HKEY_CURRENT_USER, kScheduleKey);
    e2e::ForgetEmulatedDevice(registration_, previousRoot_);
}

std::unique_ptr<tests::SynchronizersOnly> FileSyncSetting::OnlySynchronizer(REFCLSID synchronizer) {
    return std::make_unique<tests::SynchronizersOnly>(std::vector<CLSID>{synchronizer});
}

std::string RunSession(HWND mainDialog, const SessionDevice& device, const std::function<bool()>& stopWhen,
                       const char* shot) {
    com::ComPtr<IZelvanMgr> hub = e2e::ConnectHub();
    const long at = hub ? e2e::TrayPosition(hub.Get(), device.name, 1) : -1;
    EXPECT_GE(at, 0);
    PostMessageW(mainDialog, WM_COMMAND, kSynchronizeCommand + static_cast<UINT>(at), 0);
    const std::string title = "Synchronizing " + device.name + " <" + device.strId + ">";
    HWND dialog = test::WaitForWindow(nullptr, Widen(title).c_str(), kSessionTimeoutMs);
    EXPECT_TRUE(dialog);
    if (!dialog)
        return "<no session>";
    HWND start = GetDlgItem(dialog, IDC_SYNC_START);
    test::ClickButton(dialog, IDC_SYNC_START);
    EXPECT_TRUE(e2e::WaitUntil([&] { return !IsWindowEnabled(start); }, kSessionTimeoutMs));
    if (stopWhen) {
        EXPECT_TRUE(e2e::WaitUntil(stopWhen, kSessionTimeoutMs)) << "no moment to stop at";
        test::ClickButton(dialog, IDC_SYNC_STOP);
    }
    // The file synchronizer's row ends in a final state, then the session ends.
    const std::string row = device.rowName + ": ";
    std::string rows;
    EXPECT_TRUE(e2e::WaitUntil(
        [&] {
            rows = RowsOf(dialog);
            const size_t at = rows.find(row);
            if (at == std::string::npos)
                return false;
            const std::string state = rows.substr(at + row.size(), 12);
            return state.rfind("Synchronized", 0) == 0 || state.rfind("Error", 0) == 0 ||
                   state.rfind("Stopped", 0) == 0;
        },
        kSessionTimeoutMs))
        << rows;
    EXPECT_TRUE(e2e::WaitUntil([&] { return IsWindowEnabled(start) != FALSE; }, kSessionTimeoutMs));
    rows = RowsOf(dialog);
    if (shot) {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(300);
        test::SaveScreenshot(e2e::OutputFolder() + L"\\" + Widen(shot));
    }
    test::ClickButton(dialog, IDC_SYNC_CLOSE);
    EXPECT_TRUE(test::WaitForWindowGone(dialog, kSessionTimeoutMs));
    return rows;
}

ConflictUser::ConflictUser(std::vector<int> answers, const char* shot) {
    const std::wstring shotPath = shot ? e2e::OutputFolder() + L"\\" + Widen(shot) : std::wstring();
    thread_ = std::thread([this, answers, shotPath] {
        for (int answer : answers) {
            HWND dialog = nullptr;
            test::PollUntil(
                [&] {
                    dialog = test::FindShownWindow(nullptr, L"File changed on both sides");
                    return dialog || stop_;
                },
                kSessionTimeoutMs);
            if (!dialog)
                return;
            if (answered_ == 0 && !shotPath.empty()) {
                Sleep(300);
                test::SaveScreenshot(shotPath);
            }
            PostMessageW(dialog, WM_COMMAND, answer, 0);
            test::WaitForWindowGone(dialog, kSessionTimeoutMs);
            ++answered_;
        }
    });
}

int ConflictUser::Join() {
    if (thread_.joinable())
        thread_.join();
    return answered_;
}

std::string ContentDifferences(const std::string& folder, const Contents& expected) {
    test::FileTree tree;
    for (const auto& [name, bytes] : expected)
        tree[name].bytes = bytes;
    return test::TreeDifferences(tree, test::BytesOnly(test::ReadFileTree(folder)));
}

} // namespace tv::filesync::testing
