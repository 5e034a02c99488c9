// Benchmark (not a test) of the file synchronizer against a test device served in this process,
// in one run. Prints one line per figure, each a ratio with its goal:
//   1. A session that finds nothing to do over 10 000 files, in the synchronizer that ran the
//      previous session and in a new one; the script compares their times with rsync's dry run
//      over the same two folders (this program prints the sessions' times and leaves the folders
//      in place).
//   2. 100 new files of 1 MiB sent to the device by a session, against the hub's own copies of
//      the same files: the session's throughput as a ratio of the hub's.
//   3. 200 new files of 1 KiB: the session's items per second, as a ratio of the hub's copies.
//   FileSyncBench.exe <work folder>
#include "AnsiText.h"
#include "ComObject.h"
#include "FileOpListener.h"
#include "ServedHub.h"
#include "ZvSyncFiles10.h"
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace tv;

namespace {

constexpr char kDeviceId[] = "@TDB15";
constexpr DWORD kCopyTimeoutMs = 600000;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class NullSink : public com::ComObject<NullSink, IZvSyncCallback> {
public:
    STDMETHODIMP OnUpdate(IZvSynchronizer*, ZVSYNCPHASE, ZVSYNCSTATUS, ULONG, ULONG) override { return S_OK; }
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer*, ZVSYNCPHASE, ZVSYNCSTATUS, LPSTR, ULONG, ULONG) override {
        return S_OK;
    }
    STDMETHODIMP OnError(IZvSynchronizer*, ZVSYNCPHASE phase, LPSTR text) override {
        std::printf("phase %d failed: %s\n", static_cast<int>(phase), text ? text : "");
        return S_OK;
    }
};

void SetText(const std::string& key, const char* name, const std::string& value) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

std::string DeviceKey() {
    return std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kDeviceId;
}

// A fresh stored state naming `pc` as the PC folder, with the mask Main\*.
void ResetState(const std::string& pc) {
    const std::string device = DeviceKey();
    RegDeleteTreeA(HKEY_CURRENT_USER, device.c_str());
    const std::string state = device + "\\SyncDataBase";
    SetText(state, "SyncFolder", pc);
    const DWORD zero = 0;
    RegSetKeyValueA(HKEY_CURRENT_USER, state.c_str(), "dwAttribute", REG_DWORD, &zero, sizeof(zero));
    SetText(state + "\\Masks", "Main\\*", "");
}

// One whole session; its time in seconds, or a negative value when a phase failed.
double Session(IZvSynchronizer* sync) {
    const double begin = Now();
    for (int phase = SPH_INITIALIZE; phase <= SPH_FINALIZE; ++phase) {
        if (phase == SPH_SYNCHRONIZE_RESOLVE)
            continue;
        if (FAILED(sync->Synchronize(static_cast<ZVSYNCPHASE>(phase))))
            return -1;
    }
    return Now() - begin;
}

// The median of three runs of `run` (each a time in seconds, negative when it failed): one
// lucky or slow run moves the figure no more than the middle one does.
template <class Run> double MedianOfThree(Run run) {
    double times[3];
    for (double& time : times) {
        time = run();
        if (time < 0)
            return -1;
    }
    std::sort(std::begin(times), std::end(times));
    return times[1];
}

void WriteFiles(const std::string& folder, int count, size_t size, std::vector<std::string>* names = nullptr) {
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string bytes(size, 'b');
    for (int i = 0; i < count; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        std::ofstream(folder + "\\" + name, std::ios::binary) << bytes;
        if (names)
            names->push_back(name);
    }
}

// The hub's own copies of `names` from the PC folder `from` to the device folder `to`, one
// operation each as the synchronizer makes them; the time in seconds or a negative value.
double HubCopies(IZelvanMgr* hub, const std::string& from, const std::string& to, const std::vector<std::string>& names) {
    const double begin = Now();
    for (const std::string& name : names) {
        std::string source = from + "\\" + name, target = to + "\\" + name;
        LPSTR sources[] = {source.data()};
        LPSTR targets[] = {target.data()};
        com::ComPtr<filesync::FileOpListener> done;
        if (FAILED(com::MakeComObject(done)) || FAILED(hub->CopyFileItems(1, 260, sources, targets, done.Get())) ||
            !done->WaitForComplete(kCopyTimeoutMs))
            return -1;
    }
    return Now() - begin;
}

void Ratio(const char* what, double ratio, const char* goal, bool met, const std::string& detail) {
    std::printf("%s: %s, ratio %.2f (goal %s) %s\n", what, detail.c_str(), ratio, goal, met ? "met" : "missed");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || FAILED(OleInitialize(nullptr)))
        return 2;
    const std::string root = argv[1];
    test::DeleteTree(com::FromAnsi(root));
    const std::string devices = root + "\\devices", device = devices + "\\B15", pc = root + "\\pc";
    const std::string hubSources = root + "\\hub";
    for (const std::string& folder : {root, devices, device, device + "\\Main", pc, pc + "\\Main", hubSources})
        CreateDirectoryA(folder.c_str(), nullptr);
    // 10 000 files in 100 folders, the same on both sides with the same times.
    for (int d = 0; d < 100; ++d) {
        const std::string sub = "\\Main\\d" + std::to_string(d);
        CreateDirectoryA((device + sub).c_str(), nullptr);
        CreateDirectoryA((pc + sub).c_str(), nullptr);
        for (int f = 0; f < 100; ++f) {
            const std::string name = sub + "\\f" + std::to_string(f) + ".txt";
            std::ofstream(device + name) << name;
            std::ofstream(pc + name) << name;
            HANDLE files[] = {CreateFileA((device + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                          nullptr),
                              CreateFileA((pc + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                          nullptr)};
            const FILETIME time = {0x12345678u, 0x01D90000u + static_cast<DWORD>(d)};
            for (HANDLE file : files) {
                SetFileTime(file, nullptr, nullptr, &time);
                CloseHandle(file);
            }
        }
    }
    int status = 0;
    {
        test::ServedHub served;
        if (FAILED(served.Start(devices))) {
            std::printf("the hub could not be served\n");
            return 1;
        }
        test::PollUntil(
            [&] {
                unsigned char name[64] = {};
                return served.Hub() &&
                       SUCCEEDED(served.Hub()->GetDeviceNameByID(const_cast<LPSTR>(kDeviceId), sizeof(name), name));
            },
            10000);
        com::ComPtr<IZvSynchronizer> sync;
        com::ComPtr<IZvSyncNotify> notify;
        com::ComPtr<NullSink> sink;
        com::MakeComObject(sink);
        LONG cookie = 0;
        if (FAILED(CoCreateInstance(CLSID_ZvSyncFiles15, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvSynchronizer),
                                    reinterpret_cast<void**>(&sync))) ||
            FAILED(sync.As(&notify)) || FAILED(notify->Advise(sink.Get(), &cookie))) {
            std::printf("the synchronizer could not be made\n");
            return 1;
        }
        sync->SetDevice(const_cast<LPSTR>(kDeviceId));
        sync->SetConflictResolution(SSR_REPLACE_ON_DEVICE);

        // 1. The first session records the 10 000 files; the second finds nothing to do, in the
        // synchronizer that ran the first (as the program runs them) and in a new one, which
        // reads the stored state from the registry.
        // Each figure is the median of three sessions.
        ResetState(pc);
        const double first = Session(sync.Get());
        const double second = MedianOfThree([&] { return Session(sync.Get()); });
        LONG synchronized = 0;
        sync->GetSynchronizedItems(&synchronized);
        LONG freshSynchronized = 0;
        const double cold = MedianOfThree([&] {
            com::ComPtr<IZvSynchronizer> fresh;
            if (FAILED(CoCreateInstance(CLSID_ZvSyncFiles15, nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IZvSynchronizer), reinterpret_cast<void**>(&fresh))))
                return -1.0;
            fresh->SetDevice(const_cast<LPSTR>(kDeviceId));
            const double time = Session(fresh.Get());
            fresh->GetSynchronizedItems(&freshSynchronized);
            return time;
        });
        if (first < 0 || second < 0 || cold < 0 || synchronized != 10000 || freshSynchronized != 10000) {
            std::printf("no-change session failed (%ld, %ld synchronized)\n", static_cast<long>(synchronized),
                        static_cast<long>(freshSynchronized));
            status = 1;
        } else {
            std::printf("no-change session over 10000 files: %.3f s\n", second);
            std::printf("no-change session over 10000 files, new synchronizer: %.3f s\n", cold);
        }

        // The 10 000 files leave both sides (for the script's rsync run); the next sessions start
        // afresh with a new PC folder.
        MoveFileA((device + "\\Main").c_str(), (root + "\\device_tree").c_str());
        MoveFileA(pc.c_str(), (root + "\\pc_tree").c_str());
        for (const std::string& folder : {device + "\\Main", pc, pc + "\\Main"})
            CreateDirectoryA(folder.c_str(), nullptr);
        ResetState(pc);
        if (Session(sync.Get()) < 0)
            status = 1;

        // 2. 100 x 1 MiB: the hub's copies, then a session sending the same files.
        // The hub's sources lie outside the synchronized folder, so the session copies only its own.
        std::vector<std::string> names;
        WriteFiles(hubSources + "\\big", 100, 1 << 20, &names);
        WriteFiles(pc + "\\Main\\big", 100, 1 << 20);
        CreateDirectoryA((device + "\\hubbig").c_str(), nullptr);
        const double hubBig =
            HubCopies(served.Hub(), hubSources + "\\big", std::string(kDeviceId) + "\\hubbig", names);
        const double syncBig = Session(sync.Get());
        if (hubBig <= 0 || syncBig <= 0) {
            std::printf("100 x 1 MiB failed\n");
            status = 1;
        } else {
            const double ratio = hubBig / syncBig;
            Ratio("100 x 1 MiB new files, session throughput / hub CopyFileItems throughput", ratio, ">= 0.8",
                  ratio >= 0.8,
                  "session " + std::to_string(100.0 / syncBig) + " MiB/s, hub " + std::to_string(100.0 / hubBig) +
                      " MiB/s");
        }

        // 3. 200 x 1 KiB: items per second.
        names.clear();
        WriteFiles(hubSources + "\\small", 200, 1024, &names);
        WriteFiles(pc + "\\Main\\small", 200, 1024);
        CreateDirectoryA((device + "\\hubsmall").c_str(), nullptr);
        const double hubSmall =
            HubCopies(served.Hub(), hubSources + "\\small", std::string(kDeviceId) + "\\hubsmall", names);
        const double syncSmall = Session(sync.Get());
        if (hubSmall <= 0 || syncSmall <= 0) {
            std::printf("200 x 1 KiB failed\n");
            status = 1;
        } else {
            const double ratio = hubSmall / syncSmall;
            Ratio("200 x 1 KiB new files, session items/s / hub CopyFileItems items/s", ratio, ">= 0.5", ratio >= 0.5,
                  "session " + std::to_string(200.0 / syncSmall) + " items/s, hub " +
                      std::to_string(200.0 / hubSmall) + " items/s");
        }
        notify->Unadvise(cookie);
    }
    // The prefix's registry is left without the 10 000 stored items.
    RegDeleteTreeA(HKEY_CURRENT_USER, DeviceKey().c_str());
    OleUninitialize();
    return status;
}
