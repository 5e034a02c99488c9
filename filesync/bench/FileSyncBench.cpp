// Benchmark (not a test) of the file synchronizer against a test device served in this process,
// in one run. Prints one line per figure, each a ratio with its goal:
//   1. A session that finds nothing to do over 10 000 files, in the synchronizer that ran the
//      previous session and in a new one, against rsync's dry run over the same two folders. The
//      script runs rsync when this program asks for it on its standard output ("rsync round") and
//      answers the seconds it took on the standard input, so that its rounds take turns with the
//      sessions'. This program prints the sessions' and rsync's medians, the registry calls a new
//      synchronizer makes per stored item and the share of its session that reading the stored
//      items takes; the script makes the ratio lines.
//   2. 100 new files of 1 MiB sent to the device by a session, against the hub's own copies of
//      the same files: the session's throughput as a ratio of the hub's. A third side makes the
//      hub's copies followed by the calls the synchronizer must make for each copied file (the
//      size open, the free-space request, the ready poll, the fresh listing of the file's folder
//      and the PC file's time): the ratio no session can pass.
//   3. 200 new files of 1 KiB: the session's items per second, as a ratio of the hub's copies.
// The figures of 2 and 3 are medians of rounds that time the hub and the session in turn, each
// round from the same start.
//   FileSyncBench.exe <work folder>
#include "AnsiText.h"
#include "BenchmarkRounds.h"
#include "ComObject.h"
#include "FileOpListener.h"
#include "HubSyncEngine.h"
#include "ImportPatch.h"
#include "LocalFileTime.h"
#include "WinPcLister.h"
#include "RegistrySyncStore.h"
#include "ServedHub.h"
#include "ZvSyncFiles10.h"
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace tv;

namespace {

constexpr char kDeviceId[] = "@TDB15";
constexpr DWORD kCopyTimeoutMs = 600000;
constexpr int kNewFileRounds = 5;
constexpr int kNoChangeRounds = 5;

// The registry calls a module makes through its import table while counting runs.
std::atomic<long> registryCalls{0};

template <int Id, class Call> struct CountedCall;
template <int Id, class Result, class... Args> struct CountedCall<Id, Result(WINAPI*)(Args...)> {
    static inline Result(WINAPI* real)(Args...) = nullptr;
    static Result WINAPI Call(Args... args) {
        ++registryCalls;
        return real(args...);
    }
};

// Sends the registry functions `module` imports through counters while it lives.
class RegistryCallCounter {
public:
    explicit RegistryCallCounter(HMODULE module) : module_(module) {
        Count<0>(&RegOpenKeyExA, "RegOpenKeyExA");
        Count<1>(&RegOpenKeyExW, "RegOpenKeyExW");
        Count<2>(&RegCloseKey, "RegCloseKey");
        Count<3>(&RegGetValueA, "RegGetValueA");
        Count<4>(&RegGetValueW, "RegGetValueW");
        Count<5>(&RegEnumKeyExA, "RegEnumKeyExA");
        Count<6>(&RegEnumKeyExW, "RegEnumKeyExW");
        Count<7>(&RegEnumValueA, "RegEnumValueA");
        Count<8>(&RegQueryInfoKeyA, "RegQueryInfoKeyA");
        Count<9>(&RegQueryInfoKeyW, "RegQueryInfoKeyW");
        Count<10>(&RegQueryValueExA, "RegQueryValueExA");
        Count<11>(&RegQueryValueExW, "RegQueryValueExW");
    }

private:
    template <int Id, class Call> void Count(Call real, const char* name) {
        CountedCall<Id, Call>::real = real;
        patches_.push_back(std::make_unique<test::ImportPatch>(
            module_, "advapi32.dll", name, reinterpret_cast<void*>(&CountedCall<Id, Call>::Call)));
    }

    HMODULE module_;
    std::vector<std::unique_ptr<test::ImportPatch>> patches_;
};

// One rsync round from the script: the question on the standard output, the seconds on the
// standard input; negative when no answer came.
double RsyncRound() {
    std::printf("rsync round\n");
    std::fflush(stdout);
    char line[64] = {};
    if (!std::fgets(line, sizeof(line), stdin))
        return -1;
    return std::atof(line);
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
        com::ComPtr<tv::filesync::FileOpListener> done;
        if (FAILED(com::MakeComObject(done)) || FAILED(hub->CopyFileItems(1, 260, sources, targets, done.Get())) ||
            !done->WaitForComplete(kCopyTimeoutMs))
            return -1;
    }
    return test::BenchmarkClock() - begin;
}

// The hub's copies as HubCopies makes them, each followed by the calls the synchronizer makes
// for a file it sent: the PC file's size opened as for the copy, the device's free space, one
// ready poll, the fresh listing of the copy's folder and the PC file's time set from it.
double HubCopiesWithCalls(IZelvanMgr* hub, const std::string& from, const std::string& to,
                          const std::vector<std::string>& names) {
    const double begin = test::BenchmarkClock();
    for (const std::string& name : names) {
        std::string source = from + "\\" + name, target = to + "\\" + name, volume = to;
        {
            HANDLE file = CreateFileA(source.c_str(), 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            LARGE_INTEGER size = {};
            if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size))
                return -1;
            CloseHandle(file);
        }
        VOLUMEINFO info = {};
        if (FAILED(hub->GetVolumeInfo(volume.data(), &info)))
            return -1;
        LPSTR sources[] = {source.data()};
        LPSTR targets[] = {target.data()};
        com::ComPtr<tv::filesync::FileOpListener> done;
        if (FAILED(com::MakeComObject(done)) || FAILED(hub->CopyFileItems(1, 260, sources, targets, done.Get())) ||
            !done->WaitForComplete(kCopyTimeoutMs))
            return -1;
        std::string id = kDeviceId;
        char command[] = "id ";
        long length = 0;
        LPSTR reply = nullptr;
        if (FAILED(hub->Command(id.data(), command, &length, &reply)))
            return -1;
        CoTaskMemFree(reply);
        com::ComPtr<IZvEnumFileItems> items;
        if (FAILED(hub->EnumFileItems(volume.data(), 31, &items)) || !items)
            return -1;
        std::vector<::filesync::DeviceListingEntry> listing;
        tv::filesync::ReadDeviceListing(items.Get(), listing);
        uint64_t utc = 0;
        if (listing.empty() || !tv::filesync::LocalToUtcFileTime(listing.back().time, utc))
            return -1;
        const DWORD attributes = GetFileAttributesA(source.c_str());
        SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
        HANDLE file = CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        const FILETIME time = tv::filesync::ToFileTime(utc);
        const bool set = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &time);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        SetFileAttributesA(source.c_str(), attributes);
        if (!set)
            return -1;
    }
    return test::BenchmarkClock() - begin;
}

void Ratio(const char* what, const tv::bench::RoundsRatio& ratio, const char* goal, bool met,
           const std::string& detail) {
    std::printf("%s: %s, %s %s\n", what, detail.c_str(), tv::bench::RatioText(ratio, goal).c_str(),
                met ? "met" : "missed");
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

        // 1. The first session records the 10 000 files; the next ones find nothing to do, in the
        // synchronizer that ran the first (as the program runs them) and in a new one, which
        // reads the stored state from the registry, in rounds with rsync's dry run.
        ResetState(pc);
        const double first = Session(sync.Get());
        LONG freshSynchronized = 0;
        const auto freshSession = [&] {
            com::ComPtr<IZvSynchronizer> fresh;
            if (FAILED(CoCreateInstance(CLSID_ZvSyncFiles15, nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IZvSynchronizer), reinterpret_cast<void**>(&fresh))))
                return -1.0;
            fresh->SetDevice(const_cast<LPSTR>(kDeviceId));
            const double time = Session(fresh.Get());
            fresh->GetSynchronizedItems(&freshSynchronized);
            return time;
        };
        // What every session reads whatever it keeps: the device's full listing from the hub and
        // the PC folder's scan.
        const auto deviceListing = [&] {
            const double begin = test::BenchmarkClock();
            std::string id = kDeviceId;
            com::ComPtr<IZvEnumFileItems> items;
            if (FAILED(served.Hub()->GetAllItems(id.data(), &items)) || !items)
                return -1.0;
            std::vector<::filesync::DeviceListingEntry> listing;
            tv::filesync::ReadDeviceListing(items.Get(), listing);
            return listing.size() >= 10000 ? test::BenchmarkClock() - begin : -1.0;
        };
        const auto pcScan = [&] {
            const double begin = test::BenchmarkClock();
            tv::filesync::WinPcLister lister;
            const size_t files = ::filesync::ScanPcFolder(::filesync::Generation::V15, lister, pc).size();
            return files == 10000 ? test::BenchmarkClock() - begin : -1.0;
        };
        const auto noChangeRounds =
            test::TimesOfRounds(kNoChangeRounds, [] { return RsyncRound(); }, [&] { return Session(sync.Get()); },
                                freshSession, deviceListing, pcScan);
        const auto noChangeMedian = [&](size_t side) {
            return side < noChangeRounds.size() ? test::Median(noChangeRounds[side]) : -1.0;
        };
        const double rsyncTime = noChangeMedian(0), second = noChangeMedian(1), cold = noChangeMedian(2),
                     listingTime = noChangeMedian(3), scanTime = noChangeMedian(4);
        LONG synchronized = 0;
        sync->GetSynchronizedItems(&synchronized);
        // One more new synchronizer, untimed, counts its registry calls; the stored items are then
        // read alone, as a new synchronizer reads them.
        registryCalls = 0;
        double counted = -1;
        {
            RegistryCallCounter counter(GetModuleHandleA("ZvSyncFiles10.dll"));
            counted = freshSession();
        }
        const long calls = registryCalls;
        const double reading = test::MedianOfRounds(kNoChangeRounds, [] {
            tv::filesync::RegistrySyncStore store(kDeviceId);
            std::vector<::filesync::FileEntry> items;
            const double begin = test::BenchmarkClock();
            if (store.ReadItems(items) != ::filesync::StoreResult::Ok || items.size() != 10000)
                return -1.0;
            return test::BenchmarkClock() - begin;
        })[0];
        if (first < 0 || second < 0 || cold < 0 || rsyncTime <= 0 || listingTime < 0 || scanTime < 0 || counted < 0 ||
            reading < 0 ||
            synchronized != 10000 || freshSynchronized != 10000) {
            std::printf("no-change session failed (%ld, %ld synchronized)\n", static_cast<long>(synchronized),
                        static_cast<long>(freshSynchronized));
            status = 1;
        } else {
            std::printf("no-change session over 10000 files: %.3f s\n", second);
            std::printf("no-change session over 10000 files, new synchronizer: %.3f s\n", cold);
            std::printf("rsync dry run: %.3f s\n", rsyncTime);
            // The least and greatest ratio of one round's session to that round's rsync run.
            const auto warm = tv::bench::RatioOfRounds(noChangeRounds[1], noChangeRounds[0]);
            const auto fresh = tv::bench::RatioOfRounds(noChangeRounds[2], noChangeRounds[0]);
            std::printf("round ratios: previous min %.2f max %.2f, new min %.2f max %.2f\n", warm.least, warm.most,
                        fresh.least, fresh.most);
            std::printf("device listing: %.3f s, PC scan: %.3f s\n", listingTime, scanTime);
            std::printf("new synchronizer: %.1f registry calls per stored item, reading the stored items %.3f s\n",
                        static_cast<double>(calls) / 10000, reading);
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
            for (const char* name : {"hubbig", "hubcalls", "hubsmall"}) {
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
        const auto hubBigWithCalls = [&] {
            return HubCopiesWithCalls(served.Hub(), hubSources + "\\big", std::string(kDeviceId) + "\\hubcalls",
                                      bigNames);
        };
        const auto hubSmall = [&] {
            if (!bringIn("small"))
                return -1.0;
            return HubCopies(served.Hub(), hubSources + "\\small", std::string(kDeviceId) + "\\hubsmall",
                             smallNames);
        };
        const auto session = [&] { return Session(sync.Get()); };
        const auto newFileRounds =
            test::TimesOfRounds(kNewFileRounds, hubBig, hubBigWithCalls, session, hubSmall, session);
        const auto newFileMedian = [&](size_t side) {
            return side < newFileRounds.size() ? test::Median(newFileRounds[side]) : -1.0;
        };
        const double hubBigTime = newFileMedian(0), callsBigTime = newFileMedian(1), syncBig = newFileMedian(2),
                     hubSmallTime = newFileMedian(3), syncSmall = newFileMedian(4);
        const std::string rounds = ", median of " + std::to_string(kNewFileRounds) + " rounds";
        if (hubBigTime <= 0 || callsBigTime <= 0 || syncBig <= 0 || hubSmallTime <= 0 || syncSmall <= 0) {
            std::printf("new files failed\n");
            status = 1;
        } else {
            // Throughput ratios: the hub's time over the session's.
            const auto big = tv::bench::RatioOfRounds(newFileRounds[0], newFileRounds[2]);
            const auto small = tv::bench::RatioOfRounds(newFileRounds[3], newFileRounds[4]);
            // The synchronizer's own calls per file, and their share of what the session spends
            // beyond the hub's copies.
            const double ownCalls = std::max(0.0, callsBigTime - hubBigTime);
            const double beyond = syncBig - hubBigTime;
            char floor[256];
            std::snprintf(floor, sizeof(floor),
                          "; the size open, free-space request, ready poll, fresh listing and file time of each "
                          "file alone: %.2f ms a file, %.0f %% of the session's time beyond the hub's copies, "
                          "ratio %.2f at most",
                          ownCalls * 10, beyond > 0 ? 100 * ownCalls / beyond : 0.0, hubBigTime / callsBigTime);
            Ratio("100 x 1 MiB new files, session throughput / hub CopyFileItems throughput", big, ">= 0.8",
                  big.median >= 0.8,
                  "session " + std::to_string(100.0 / syncBig) + " MiB/s, hub " +
                      std::to_string(100.0 / hubBigTime) + " MiB/s" + rounds + floor);
            Ratio("200 x 1 KiB new files, session items/s / hub CopyFileItems items/s", small, ">= 0.5",
                  small.median >= 0.5,
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
