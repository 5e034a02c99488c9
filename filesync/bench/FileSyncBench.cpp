// Benchmark (not a test) of the file synchronizer against a test device served in this process,
// in one run. Prints one line per figure, each a ratio with its goal:
//   1. A session that finds nothing to do over 10 000 files, in the synchronizer that ran the
//      previous session and in a new one; the script compares their times with rsync's dry run
//      over the same two folders (this program prints the sessions' times and leaves the folders
//      in place).
//   2. 100 new files of 1 MiB sent to the device by a session, against the hub's own copies of
//      the same files: the session's throughput as a ratio of the hub's.
//   3. 200 new files of 1 KiB: the session's items per second, as a ratio of the hub's copies.
// The figures of 2 and 3 are medians of rounds that time the hub and the session in turn, each
// round from the same start.
//   FileSyncBench.exe <work folder>
#include "AnsiText.h"
#include "BenchmarkRounds.h"
#include "ComObject.h"
#include "FileOpListener.h"
#include "ServedHub.h"
#include "ZvSyncFiles10.h"
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace tv;

namespace {

constexpr char kDeviceId[] = "@TDB15";
constexpr DWORD kCopyTimeoutMs = 600000;
constexpr int kNewFileRounds = 5;

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
    const double begin = test::BenchmarkClock();
    for (int phase = SPH_INITIALIZE; phase <= SPH_FINALIZE; ++phase) {
        if (phase == SPH_SYNCHRONIZE_RESOLVE)
            continue;
        if (FAILED(sync->Synchronize(static_cast<ZVSYNCPHASE>(phase))))
            return -1;
    }
    return test::BenchmarkClock() - begin;
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
    const double begin = test::BenchmarkClock();
    for (const std::string& name : names) {
        std::string source = from + "\\" + name, target = to + "\\" + name;
        LPSTR sources[] = {source.data()};
        LPSTR targets[] = {target.data()};
        com::ComPtr<filesync::FileOpListener> done;
        if (FAILED(com::MakeComObject(done)) || FAILED(hub->CopyFileItems(1, 260, sources, targets, done.Get())) ||
            !done->WaitForComplete(kCopyTimeoutMs))
            return -1;
    }
    return test::BenchmarkClock() - begin;
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
        const double second = test::MedianOfRounds(3, [&] { return Session(sync.Get()); })[0];
        LONG synchronized = 0;
        sync->GetSynchronizedItems(&synchronized);
        LONG freshSynchronized = 0;
        const double cold = test::MedianOfRounds(3, [&] {
            com::ComPtr<IZvSynchronizer> fresh;
            if (FAILED(CoCreateInstance(CLSID_ZvSyncFiles15, nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IZvSynchronizer), reinterpret_cast<void**>(&fresh))))
                return -1.0;
            fresh->SetDevice(const_cast<LPSTR>(kDeviceId));
            const double time = Session(fresh.Get());
            fresh->GetSynchronizedItems(&freshSynchronized);
            return time;
        })[0];
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

        // 2. 100 x 1 MiB and 3. 200 x 1 KiB: the hub's copies, then a session sending the same
        // files. The hub's sources lie outside the synchronized folder, so the session copies only
        // its own. The files are written once; the PC's wait aside while a round starts from a
        // stored state that knows none of them, and come into the synchronized folder just
        // before their hub copies.
        std::vector<std::string> bigNames, smallNames;
        const std::string aside = root + "\\aside";
        CreateDirectoryA(aside.c_str(), nullptr);
        WriteFiles(hubSources + "\\big", 100, 1 << 20, &bigNames);
        WriteFiles(aside + "\\big", 100, 1 << 20);
        WriteFiles(hubSources + "\\small", 200, 1024, &smallNames);
        WriteFiles(aside + "\\small", 200, 1024);
        const auto bringIn = [&](const char* name) {
            return MoveFileA((aside + "\\" + name).c_str(), (pc + "\\Main\\" + name).c_str()) != FALSE;
        };
        // Each round begins with neither side holding the new files and a session over the empty
        // folder recording that state.
        const auto startRound = [&] {
            for (const char* name : {"big", "small"}) {
                MoveFileA((pc + "\\Main\\" + name).c_str(), (aside + "\\" + name).c_str());
                test::DeleteTree(com::FromAnsi(device + "\\Main\\" + name));
            }
            for (const char* name : {"hubbig", "hubsmall"}) {
                test::DeleteTree(com::FromAnsi(device + "\\" + name));
                CreateDirectoryA((device + "\\" + name).c_str(), nullptr);
            }
            ResetState(pc);
            return Session(sync.Get()) >= 0;
        };
        const auto hubBig = [&] {
            if (!startRound() || !bringIn("big"))
                return -1.0;
            return HubCopies(served.Hub(), hubSources + "\\big", std::string(kDeviceId) + "\\hubbig",
                             bigNames);
        };
        const auto hubSmall = [&] {
            if (!bringIn("small"))
                return -1.0;
            return HubCopies(served.Hub(), hubSources + "\\small", std::string(kDeviceId) + "\\hubsmall",
                             smallNames);
        };
        const auto session = [&] { return Session(sync.Get()); };
        const auto [hubBigTime, syncBig, hubSmallTime, syncSmall] =
            test::MedianOfRounds(kNewFileRounds, hubBig, session, hubSmall, session);
        const std::string rounds = ", median of " + std::to_string(kNewFileRounds) + " rounds";
        if (hubBigTime <= 0 || syncBig <= 0 || hubSmallTime <= 0 || syncSmall <= 0) {
            std::printf("new files failed\n");
            status = 1;
        } else {
            const double big = hubBigTime / syncBig;
            Ratio("100 x 1 MiB new files, session throughput / hub CopyFileItems throughput", big, ">= 0.8",
                  big >= 0.8,
                  "session " + std::to_string(100.0 / syncBig) + " MiB/s, hub " +
                      std::to_string(100.0 / hubBigTime) + " MiB/s" + rounds);
            const double small = hubSmallTime / syncSmall;
            Ratio("200 x 1 KiB new files, session items/s / hub CopyFileItems items/s", small, ">= 0.5",
                  small >= 0.5,
                  "session " + std::to_string(200.0 / syncSmall) + " items/s, hub " +
                      std::to_string(200.0 / hubSmallTime) + " items/s" + rounds);
        }
        notify->Unadvise(cookie);
    }
    // The prefix's registry is left without the 10 000 stored items.
    RegDeleteTreeA(HKEY_CURRENT_USER, DeviceKey().c_str());
    OleUninitialize();
    return status;
}
