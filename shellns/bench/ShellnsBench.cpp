// Benchmark (not a test): the folder's costs against the hub's own calls, on one test device
// served in this process, in one run. Prints one line per figure: the folder's time as a ratio
// of the hub path's, with the goal.
//   1. Listing a device folder of 5000 items: the folder's EnumObjects against a raw
//      EnumFileItems loop.
//   2. Uploading and downloading 50 files of 1 MiB: the folder's operations (with their progress
//      windows) against the hub's CopyFileItems of the same files.
#include "AnsiText.h"
#include "ComObject.h"
#include "FileOps.h"
#include "ItemIdList.h"
#include "LanguageLibrary.h"
#include "Seams.h"
#include "ServedHub.h"
#include "ZelvanFolder.h"
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace tv;
using namespace tv::shellns;

namespace {

constexpr int kListed = 5000;
constexpr int kCopied = 50;
constexpr size_t kCopySize = 1 << 20;
constexpr double kGoal = 1.2;
constexpr DWORD kCopyTimeoutMs = 600000;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Waits, dispatching messages, for the hub's end of a copy.
class CopyDone : public com::ComObject<CopyDone, IZvFileOperationCallback> {
public:
    STDMETHODIMP OnOperationComplete() override {
        done_ = true;
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR, LONG code) override {
        failed_ = failed_ || code != 0;
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }
    bool Wait() {
        const DWORD start = GetTickCount();
        while (!done_ && GetTickCount() - start < kCopyTimeoutMs) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        return done_ && !failed_;
    }

private:
    bool done_ = false;
    bool failed_ = false;
};

bool HubCopy(IZelvanMgr* hub, std::vector<std::string> sources, std::vector<std::string> targets) {
    std::vector<LPSTR> from, to;
    for (size_t i = 0; i < sources.size(); ++i) {
        from.push_back(sources[i].data());
        to.push_back(targets[i].data());
    }
    com::ComPtr<CopyDone> done;
    if (FAILED(com::MakeComObject(done)) ||
        FAILED(hub->CopyFileItems(static_cast<LONG>(from.size()), MAX_PATH, from.data(), to.data(), done.Get())))
        return false;
    return done->Wait();
}

// The raw listing: every record fetched and its strings freed.
int HubList(IZelvanMgr* hub, const std::string& folder) {
    com::ComPtr<IZvEnumFileItems> listing;
    if (FAILED(hub->EnumFileItems(const_cast<LPSTR>(folder.c_str()), 31, &listing)) || !listing)
        return -1;
    int count = 0;
    for (;;) {
        ZVFILEITEM records[10] = {};
        LONG fetched = 0;
        if (FAILED(listing->Next(10, records, &fetched)) || fetched <= 0)
            return count;
        for (LONG i = 0; i < fetched; ++i) {
            CoTaskMemFree(records[i].strName);
            CoTaskMemFree(records[i].strDesc);
            CoTaskMemFree(records[i].strIconFile);
        }
        count += fetched;
    }
}

com::ComPtr<IShellFolder> BindChild(IShellFolder* folder, const std::string& name) {
    com::ComPtr<IEnumIDList> items;
    com::ComPtr<IShellFolder> child;
    if (!folder || folder->EnumObjects(nullptr, SHCONTF_FOLDERS, &items) != S_OK)
        return child;
    PITEMID_CHILD item = nullptr;
    while (!child && items->Next(1, &item, nullptr) == S_OK) {
        UniquePidl owned(item);
        ItemRecord record;
        if (ReadItem(item, &record) && record.name == name)
            folder->BindToObject(item, nullptr, IID_PPV_ARGS(&child));
    }
    return child;
}

int FolderList(IShellFolder* folder) {
    com::ComPtr<IEnumIDList> items;
    if (!folder || folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &items) != S_OK)
        return -1;
    int count = 0;
    PITEMID_CHILD item = nullptr;
    while (items->Next(1, &item, nullptr) == S_OK) {
        CoTaskMemFree(item);
        ++count;
    }
    return count;
}

void Report(const char* what, double folder, double hub) {
    const double ratio = hub > 0 ? folder / hub : 0;
    std::printf("%s: folder %.3f s, hub %.3f s, ratio %.2fx (goal <= %.1fx) %s\n", what, folder, hub, ratio, kGoal,
                ratio <= kGoal ? "met" : "missed");
}

// Times the hub's own copy of `sources` to `targets`, then the folder's operation of the same files.
bool CompareCopies(const char* what, IZelvanMgr* hub, const std::vector<std::string>& sources,
                   const std::vector<std::string>& targets, shellns::FileOperation& operation) {
    double start = Now();
    const bool hubDone = HubCopy(hub, sources, targets);
    const double hubTime = Now() - start;
    start = Now();
    const bool folderDone = operation.Run();
    const double folderTime = Now() - start;
    if (!hubDone || !folderDone)
        std::printf("%s failed: hub %d folder %d\n", what, hubDone, folderDone);
    Report(what, folderTime, hubTime);
    return hubDone && folderDone;
}

} // namespace

int main() {
    if (FAILED(OleInitialize(nullptr)))
        return 2;
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    const std::string root = std::string(temp) + "tvnsbench" + std::to_string(GetCurrentProcessId());
    test::DeleteTree(com::FromAnsi(root));
    for (const char* folder : {"", "\\devices", "\\devices\\Dev1", "\\devices\\Dev1\\Big", "\\devices\\Dev1\\Down",
                               "\\devices\\Dev1\\UpFolder", "\\devices\\Dev1\\UpHub", "\\pc", "\\pc\\up",
                               "\\pc\\hubdown"})
        CreateDirectoryA((root + folder).c_str(), nullptr);
    for (int i = 0; i < kListed; ++i)
        std::ofstream(root + "\\devices\\Dev1\\Big\\item" + std::to_string(i) + ".txt") << i;
    const std::string block(kCopySize, 'z');
    std::vector<std::string> pcFiles, deviceFiles;
    for (int i = 0; i < kCopied; ++i) {
        const std::string name = "file" + std::to_string(i) + ".bin";
        std::ofstream(root + "\\pc\\up\\" + name, std::ios::binary) << block;
        std::ofstream(root + "\\devices\\Dev1\\Down\\" + name, std::ios::binary) << block;
        pcFiles.push_back(root + "\\pc\\up\\" + name);
        deviceFiles.push_back("Dev1\\Down\\" + name);
    }
    Seams().languageLibrary = LoadLanguageLibrary(nullptr);
    int status = 0;
    {
        test::ServedHub served;
        if (FAILED(served.Start(root + "\\devices"))) {
            std::printf("the hub could not be served\n");
            return 2;
        }
        IZelvanMgr* hub = served.Hub();

        double start = Now();
        const int rawCount = HubList(hub, "Dev1\\Big");
        const double rawList = Now() - start;
        com::ComPtr<ZelvanFolder> rootFolder;
        com::MakeComObject(rootFolder);
        com::ComPtr<IShellFolder> big = BindChild(BindChild(rootFolder.Get(), "Dev1").Get(), "Big");
        start = Now();
        const int folderCount = FolderList(big.Get());
        const double folderList = Now() - start;
        if (rawCount != kListed || folderCount != kListed) {
            std::printf("listing: hub %d and folder %d items of %d\n", rawCount, folderCount, kListed);
            status = 1;
        }
        Report("enumeration of 5000 items", folderList, rawList);

        std::vector<std::string> hubTargets, pcTargets;
        for (int i = 0; i < kCopied; ++i) {
            hubTargets.push_back("Dev1\\UpHub\\file" + std::to_string(i) + ".bin");
            pcTargets.push_back(root + "\\pc\\hubdown\\file" + std::to_string(i) + ".bin");
        }
        ZvUploadOp upload(pcFiles, "Dev1\\UpFolder");
        ZvDownloadOp download(deviceFiles);
        if (!CompareCopies("upload of 50 x 1 MiB", hub, pcFiles, hubTargets, upload) ||
            !CompareCopies("download of 50 x 1 MiB", hub, deviceFiles, pcTargets, download))
            status = 1;
        rootFolder.Reset();
        big.Reset();
    }
    test::DeleteTree(com::FromAnsi(root));
    OleUninitialize();
    return status;
}
