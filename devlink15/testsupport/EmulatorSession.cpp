#include "EmulatorSession.h"

#include "NotificationWindow.h"
#include "UsbDevices.h"

#include <dbt.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace devlink15::test {
namespace {

constexpr DWORD kStartLimitMs = 10000;
// The probe device that Prime plugs into a slot no test uses.
constexpr int kProbeSlot = 3;
constexpr char kProbeId[] = "T15PRIMEPROB";

// Counts every arrival and removal of a device's interface, heard by the factories' notification
// window on a thread of its own, and wakes whoever waits for the next one.
class DeviceChanges {
  public:
    DeviceChanges() {
        ready_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!ready_)
            return;
        thread_.Reset(CreateThread(nullptr, 0, ThreadProc, this, 0, &threadId_));
        if (thread_) {
            const HANDLE handles[] = {ready_.Get(), thread_.Get()};
            WaitForMultipleObjects(2, handles, FALSE, kStartLimitMs);
        }
    }
    ~DeviceChanges() {
        if (!thread_)
            return;
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_.Get(), kStartLimitMs);
    }
    DeviceChanges(const DeviceChanges&) = delete;
    DeviceChanges& operator=(const DeviceChanges&) = delete;

    bool Listening() const { return listening_; }
    unsigned long long Count() {
        std::lock_guard<std::mutex> guard(lock_);
        return count_;
    }
    // Waits until the count is past `seen` or the deadline (of GetTickCount64) passed.
    bool WaitPast(unsigned long long seen, ULONGLONG deadline) {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            if (count_ != seen)
                return true;
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return false;
            changed_.wait_for(guard, std::chrono::milliseconds(deadline - now));
        }
    }

  private:
    static DWORD WINAPI ThreadProc(void* parameter) {
        auto* self = static_cast<DeviceChanges*>(parameter);
        NotificationWindow window;
        self->listening_ = window.Create([self](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
            if (message != WM_DEVICECHANGE ||
                (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE))
                return false;
            {
                std::lock_guard<std::mutex> guard(self->lock_);
                ++self->count_;
            }
            self->changed_.notify_all();
            result = TRUE;
            return true;
        });
        SetEvent(self->ready_.Get());
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        return 0;
    }

    tv::com::UniqueHandle ready_;
    tv::com::UniqueHandle thread_;
    DWORD threadId_ = 0;
    bool listening_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
    unsigned long long count_ = 0;
};

DeviceChanges& Changes() {
    static DeviceChanges changes;
    return changes;
}

} // namespace

EmulatorSession::EmulatorSession() {
    problem_ = process_.StartOnTestDriver(tv::test::EmulatorPath(TV_ZVEMU_DEFAULT), "zelvan15-test");
    if (problem_.empty())
        problem_ = Prime();
}

EmulatorSession::~EmulatorSession() = default;

// A process's first registration for device notifications joins the plug-and-play service some
// time after it returns, and an arrival before that is never heard: a probe device is plugged
// until its arrival is heard, so that every later wait can rely on the notifications.
std::string EmulatorSession::Prime() {
    if (!Changes().Listening())
        return "cannot listen for device arrivals";
    for (int attempt = 0; attempt < 10; ++attempt) {
        const unsigned long long before = Changes().Count();
        if (!PlugRequest(kProbeSlot, kProbeId, "P000001", {}))
            return "the probe device was not plugged";
        const bool heard = Changes().WaitPast(before, GetTickCount64() + 2000);
        Request("unplug " + std::to_string(kProbeSlot));
        // Not heard, the removal may go unheard too: its end is looked for once a second.
        for (int look = 0; look < 30 && FindDeviceById(kProbeId) >= 0; ++look)
            Changes().WaitPast(Changes().Count(), GetTickCount64() + 1000);
        if (heard)
            return {};
    }
    return "no device arrival was heard after 10 plugs";
}

std::string EmulatorSession::Request(const std::string& line) {
    return process_.Request(line);
}

std::string EmulatorSession::VolumeUnixPath(int slot) const {
    return process_.Root() + "/slot" + std::to_string(slot) + "/default";
}

std::wstring EmulatorSession::VolumeWindowsPath(int slot) const {
    return L"Z:" + Widen(VolumeUnixPath(slot));
}

std::wstring EmulatorSession::ScratchWindowsPath() const {
    const std::wstring path = L"Z:" + Widen(process_.Root() + "/pc");
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

bool EmulatorSession::PlugRequest(int slot, const std::string& id, const std::string& shortId,
                                  const std::string& extra) {
    const std::string folder = process_.Root() + "/slot" + std::to_string(slot);
    CreateDirectoryW((L"Z:" + Widen(folder)).c_str(), nullptr);
    CreateDirectoryW((L"Z:" + Widen(folder + "/default")).c_str(), nullptr);
    const std::string answer = Request("plug " + std::to_string(slot) + " id=" + id + " short=" + shortId +
                                       " root=" + folder + (extra.empty() ? "" : " " + extra));
    if (answer.rfind("ok", 0) == 0)
        return true;
    std::fprintf(stderr, "plug of slot %d: the emulator answered \"%s\"\n", slot, answer.c_str());
    return false;
}

int EmulatorSession::Plug(int slot, const std::string& id, const std::string& shortId,
                          const std::string& extra) {
    if (!PlugRequest(slot, id, shortId, extra))
        return -1;
    return WaitForDevice(id, true, kDeviceWaitMs, ("plug of slot " + std::to_string(slot)).c_str());
}

void EmulatorSession::Unplug(int slot, const std::string& id) {
    Request("unplug " + std::to_string(slot));
    WaitForDevice(id, false, kDeviceWaitMs, ("unplug of slot " + std::to_string(slot)).c_str());
}

int WaitForDevice(const std::string& id, bool present, DWORD timeoutMs, const char* stage) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        // The count is taken before the look, so that a change between the two is not missed.
        const unsigned long long seen = Changes().Count();
        const int number = FindDeviceById(id);
        if ((number >= 0) == present)
            return number;
        if (!Changes().WaitPast(seen, deadline)) {
            const int last = FindDeviceById(id);
            if ((last >= 0) != present)
                std::fprintf(stderr, "%s: device %s %s within %lu ms\n", stage, id.c_str(),
                             present ? "did not arrive" : "did not go away",
                             static_cast<unsigned long>(timeoutMs));
            return last;
        }
    }
}

} // namespace devlink15::test

namespace devlink15::test {

EmulatorSession& SharedEmulator() {
    static EmulatorSession session;
    return session;
}

} // namespace devlink15::test
