#include "FileSyncSessions.h"

#include "FileSyncIds.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "ZvSyncMgr.h"
#include <commctrl.h>
#include <gtest/gtest.h>

namespace tv::filesync::testing {
namespace {

constexpr DWORD kSessionTimeoutMs = 120000;

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The texts of the session dialog's synchronizer rows (the dialog is the program's).
} // namespace

std::string Read(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return "<missing>";
    return e2e::ReadFile(path);
}

void Write(const std::string& path, const std::string& text) {
    e2e::WriteFile(path, text);
}

FileSyncSetting::FileSyncSetting(const SessionDevice& device, REFCLSID synchronizer, const std::string& pc,
                                 const std::vector<std::string>& masks, const std::string& tag)
    : registration_(device.Registration()) {
    only_ = OnlySynchronizer(synchronizer);
    previousRoot_ = e2e::UseOnlyEmulatedDevice(tag, registration_, device.name);
    e2e::SetUserNumber(registration_, "DisconnectionAlert", 0);
    e2e::SetUserNumber(registration_, "ConflictResolution", SSR_MANUAL_RESOLUTION);
    e2e::StoreScript(L"DeviceEvents", nullptr);
    e2e::ScheduleOnly({synchronizer}, device.strId);
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
    e2e::ClearSchedules();
    e2e::ForgetEmulatedDevice(registration_, previousRoot_);
}

std::unique_ptr<tests::SynchronizersOnly> FileSyncSetting::OnlySynchronizer(REFCLSID synchronizer) {
    return std::make_unique<tests::SynchronizersOnly>(std::vector<CLSID>{synchronizer});
}

std::string RunSession(HWND mainDialog, const SessionDevice& device, const std::function<bool()>& stopWhen,
                       const char* shot) {
    e2e::TraySession session;
    if (!session.Start(mainDialog, device.name, device.strId)) {
        ADD_FAILURE() << "no session dialog, or Start not taken";
        return "<no session>";
    }
    if (stopWhen) {
        EXPECT_TRUE(e2e::WaitUntil(stopWhen, kSessionTimeoutMs)) << "no moment to stop at";
        test::ClickButton(session.Dialog(), IDC_SYNC_STOP);
    }
    // The file synchronizer's row ends in a final state, then the session ends.
    const std::string rows = session.WaitForEnd(device.rowName, kSessionTimeoutMs);
    EXPECT_EQ(rows.rfind("<no end>", 0), std::string::npos) << rows;
    if (shot) {
        RedrawWindow(session.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(300);
        test::SaveScreenshot(e2e::OutputFolder() + L"\\" + Widen(shot));
    }
    EXPECT_TRUE(session.Close(kSessionTimeoutMs));
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
