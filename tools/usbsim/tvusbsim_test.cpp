// End-to-end checks of the test USB driver against fake_peer.py, through the same calls the
// suite's USB code makes: SetupAPI enumeration, RegisterDeviceNotification, CreateFile and the
// read, write and device-information requests. Run by selftest.sh, which installs the driver into
// a fresh prefix and passes the fake peer's control port in TVUSBSIM_CONTROL_PORT.
#include <winsock2.h>
#include <windows.h>

#include <dbt.h>
#include <setupapi.h>
#include <usbioctl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

namespace {

constexpr DWORD kReadRequest = 0x2200A0;
constexpr DWORD kWriteRequest = 0x2200A4;
constexpr DWORD kDeviceInfoRequest = 0x22010C;
constexpr DWORD kImageRequest = 0x22003C;
constexpr DWORD kDeviceInfoBytes = 44;
constexpr DWORD kReceiveBufferBytes = 1000;
constexpr DWORD kWaitMs = 10000;
constexpr int kSlotCount = 5;
constexpr int kLoaderSlot = 4;

constexpr GUID kDeviceClass = {0xb66756d6, 0xc253, 0x43b1, {0xa0, 0x65, 0x80, 0x91, 0x3e, 0xc5, 0xac, 0x72}};
constexpr GUID kLoaderClass = {0x00873fdf, 0x61a8, 0x11d1, {0xaa, 0x5e, 0x00, 0xc0, 0x4f, 0xb1, 0x72, 0x8b}};

// Device-information records: type letter, 12-character device id, 2 spare, 7-character short id.
constexpr char kRecordA[] = "T0123456789ABxxZA00001";
constexpr char kRecordB[] = "CBA9876543210xxZB00002";

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

std::string ToHex(const std::vector<BYTE>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (BYTE b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

std::vector<BYTE> Pattern(size_t size, unsigned seed) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>((i * 31 + seed) & 0xff);
    return bytes;
}

// CRC-32 (the zlib polynomial), as the peer reports it for an image.
uint32_t Crc32(const std::vector<BYTE>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (BYTE b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::vector<BYTE> RecordBytes(const char* record) {
    std::vector<BYTE> bytes;
    for (const char* c = record; *c; ++c) {
        bytes.push_back(static_cast<BYTE>(*c));
        bytes.push_back(0);
    }
    return bytes;
}

// Line-command connection to fake_peer.py's control port.
class PeerControl {
  public:
    explicit PeerControl(unsigned short port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            closesocket(socket_);
            socket_ = INVALID_SOCKET;
            return;
        }
        DWORD timeout_ms = 30000;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
                   sizeof(timeout_ms));
    }
    ~PeerControl() {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        WSACleanup();
    }
    PeerControl(const PeerControl&) = delete;
    PeerControl& operator=(const PeerControl&) = delete;

    bool connected() const { return socket_ != INVALID_SOCKET; }

    // Sends one command line; returns the reply line ("err ..." when the peer is gone).
    std::string Command(const std::string& command) {
        const std::string line = command + "\n";
        if (send(socket_, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size()))
            return "err send";
        for (;;) {
            const size_t end = received_.find('\n');
            if (end != std::string::npos) {
                std::string reply = received_.substr(0, end);
                received_.erase(0, end + 1);
                return reply;
            }
            char chunk[4096];
            const int n = recv(socket_, chunk, sizeof(chunk), 0);
            if (n <= 0)
                return "err receive";
            received_.append(chunk, n);
        }
    }

    bool Ok(const std::string& command) { return Command(command).rfind("ok", 0) == 0; }

    // The payload of the slot's next WRITE message.
    std::optional<std::string> NextWrite(int slot) {
        const std::string reply =
            Command("next-write " + std::to_string(slot) + " " + std::to_string(kWaitMs));
        if (reply.rfind("ok", 0) != 0)
            return std::nullopt;
        return reply.size() > 3 ? reply.substr(3) : std::string();
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    std::string received_;
};

std::vector<std::wstring> PresentInterfaces(const GUID& interface_class) {
    std::vector<std::wstring> paths;
    HDEVINFO set =
        SetupDiGetClassDevsW(&interface_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return paths;
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof(item);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &interface_class, i, &item); ++i) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &item, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> storage(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(*detail);
        if (SetupDiGetDeviceInterfaceDetailW(set, &item, detail, needed, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

bool WaitForInterfaceCount(const GUID& interface_class, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (PresentInterfaces(interface_class).size() != count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        Sleep(20);
    }
    return true;
}

UniqueHandle OpenInterface(const std::wstring& path, bool overlapped) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The device-information request as the suite sends it: synchronous, 44 bytes in and out.
std::optional<std::vector<BYTE>> QueryDeviceInfo(HANDLE device) {
    std::vector<BYTE> buffer(kDeviceInfoBytes);
    DWORD returned = 0;
    if (!DeviceIoControl(device, kDeviceInfoRequest, buffer.data(), kDeviceInfoBytes, buffer.data(),
                         kDeviceInfoBytes, &returned, nullptr))
        return std::nullopt;
    buffer.resize(returned);
    return buffer;
}

// One overlapped request; a request still pending at destruction is cancelled and awaited, so
// its buffer never outlives the I/O.
class OverlappedRequest {
  public:
    OverlappedRequest(HANDLE device, DWORD size)
        : device_(device), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), buffer_(size) {
        overlapped_.hEvent = event_.get();
    }
    ~OverlappedRequest() {
        if (started_ && WaitForSingleObject(event_.get(), 0) != WAIT_OBJECT_0) {
            CancelIoEx(device_, &overlapped_);
            WaitForSingleObject(event_.get(), kWaitMs);
        }
    }
    OverlappedRequest(const OverlappedRequest&) = delete;
    OverlappedRequest& operator=(const OverlappedRequest&) = delete;

    std::vector<BYTE>& buffer() { return buffer_; }
    OVERLAPPED* overlapped() { return &overlapped_; }

    // Sends the request; true when it completed at once or is pending.
    bool Start(DWORD code, DWORD size) {
        ResetEvent(event_.get());
        overlapped_.Internal = overlapped_.InternalHigh = 0;
        started_ = true;
        if (DeviceIoControl(device_, code, buffer_.data(), size, buffer_.data(), size, nullptr, &overlapped_))
            return true;
        if (GetLastError() == ERROR_IO_PENDING)
            return true;
        started_ = false;
        return false;
    }
    bool StartRead() { return Start(kReadRequest, static_cast<DWORD>(buffer_.size())); }

    bool Done(DWORD wait_ms) { return WaitForSingleObject(event_.get(), wait_ms) == WAIT_OBJECT_0; }

    // Waits for completion; the bytes transferred, or nullopt with the error in `error`.
    std::optional<DWORD> Finish(DWORD* error = nullptr) {
        DWORD transferred = 0;
        if (!Done(kWaitMs)) {
            if (error)
                *error = WAIT_TIMEOUT;
            return std::nullopt;
        }
        started_ = false;
        if (!GetOverlappedResult(device_, &overlapped_, &transferred, FALSE)) {
            if (error)
                *error = GetLastError();
            return std::nullopt;
        }
        return transferred;
    }

    std::vector<BYTE> Received(DWORD count) const { return {buffer_.begin(), buffer_.begin() + count}; }

  private:
    HANDLE device_;
    UniqueHandle event_;
    std::vector<BYTE> buffer_;
    OVERLAPPED overlapped_{};
    bool started_ = false;
};

// A message-only window registered for arrival and removal of both interface classes.
class DeviceNotifications {
  public:
    struct Event {
        WPARAM type;
        GUID interface_class;
        std::wstring name;
    };

    DeviceNotifications() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = WindowProc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = kClassName;
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  window_class.hInstance, nullptr);
        if (!window_)
            return;
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        for (const GUID* interface_class : {&kDeviceClass, &kLoaderClass}) {
            DEV_BROADCAST_DEVICEINTERFACE_W filter{};
            filter.dbcc_size = sizeof(filter);
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = *interface_class;
            registrations_.push_back(
                RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
        }
    }
    ~DeviceNotifications() {
        for (HDEVNOTIFY registration : registrations_)
            if (registration)
                UnregisterDeviceNotification(registration);
        if (window_)
            DestroyWindow(window_);
        UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
    }
    DeviceNotifications(const DeviceNotifications&) = delete;
    DeviceNotifications& operator=(const DeviceNotifications&) = delete;

    bool registered() const {
        return window_ && registrations_.size() == 2 && registrations_[0] && registrations_[1];
    }

    // Pumps messages until a notification of `type` for `interface_class` (and for the interface
    // `name`, when given) arrives. Naming the interface keeps a late removal from an earlier
    // unplug from being taken for the awaited one.
    std::optional<Event> WaitFor(WPARAM type, const GUID& interface_class, const std::wstring& name = {},
                                 DWORD wait_ms = kWaitMs) {
        const DWORD start = GetTickCount();
        for (;;) {
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (it->type == type && IsEqualGUID(it->interface_class, interface_class) &&
                    (name.empty() || _wcsicmp(it->name.c_str(), name.c_str()) == 0)) {
                    Event found = *it;
                    events_.erase(it);
                    return found;
                }
            }
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= wait_ms)
                return std::nullopt;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, wait_ms - elapsed, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
    }

    void Forget() { events_.clear(); }

  private:
    static constexpr wchar_t kClassName[] = L"TvUsbSimTestNotifications";

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = reinterpret_cast<DeviceNotifications*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_DEVICECHANGE &&
            (wparam == DBT_DEVICEARRIVAL || wparam == DBT_DEVICEREMOVECOMPLETE) && lparam) {
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lparam);
            if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
                const auto* item = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lparam);
                self->events_.push_back({wparam, item->dbcc_classguid, item->dbcc_name});
            }
            return TRUE;
        }
        return DefWindowProcW(window, message, wparam, lparam);
    }

    HWND window_ = nullptr;
    std::vector<HDEVNOTIFY> registrations_;
    std::deque<Event> events_;
};

class UsbSlotTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        wchar_t port[16] = {};
        if (!GetEnvironmentVariableW(L"TVUSBSIM_CONTROL_PORT", port, 16))
            return;
        configured_ = true;
        peer_ = std::make_unique<PeerControl>(static_cast<unsigned short>(_wtoi(port)));
        if (!peer_->connected()) {
            setup_error_ = "cannot reach the fake peer's control port";
            return;
        }
        for (int slot = 0; slot < kSlotCount; ++slot) {
            const std::string reply = peer_->Command("wait-hello " + std::to_string(slot) + " 30000");
            const std::string expected = slot == kLoaderSlot ? "ok 1" : "ok 0";
            if (reply != expected) {
                setup_error_ = "slot " + std::to_string(slot) + " did not connect: " + reply;
                return;
            }
        }
        if (!PrimeNotifications())
            setup_error_ = "no arrival notification after 10 plugs";
    }
    static void TearDownTestSuite() {
        primed_.reset();
        peer_.reset();
    }

    // A process's first RegisterDeviceNotification starts Wine's listener thread, which joins the
    // plug-and-play service asynchronously: arrivals just after it are lost. Plugs a device until
    // an arrival is seen, and keeps that registration for the whole suite.
    static bool PrimeNotifications() {
        primed_ = std::make_unique<DeviceNotifications>();
        for (int attempt = 0; attempt < 10; ++attempt) {
            peer_->Command(std::string("plug 3 ") + kRecordA);
            const bool seen = primed_->WaitFor(DBT_DEVICEARRIVAL, kDeviceClass, {}, 1000).has_value();
            peer_->Command("unplug 3");
            WaitForInterfaceCount(kDeviceClass, 0);
            if (seen)
                return true;
        }
        return false;
    }

    void SetUp() override {
        if (!configured_)
            GTEST_SKIP() << "needs the driver and fake_peer.py: run tools/usbsim/selftest.sh";
        ASSERT_TRUE(setup_error_.empty()) << setup_error_;
        ASSERT_TRUE(notifications_.registered());
    }
    void TearDown() override {
        if (!configured_ || !setup_error_.empty())
            return;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            peer_->Command("echo " + std::to_string(slot) + " 0");
            peer_->Command("unplug " + std::to_string(slot));
        }
        EXPECT_TRUE(WaitForInterfaceCount(kDeviceClass, 0));
        EXPECT_TRUE(WaitForInterfaceCount(kLoaderClass, 0));
    }

    // Plugs a device into the slot and returns its interface path once its arrival is announced.
    std::wstring Plug(int slot, const char* record) {
        const GUID& interface_class = slot == kLoaderSlot ? kLoaderClass : kDeviceClass;
        // A slot whose connection was dropped reconnects on its own schedule: wait for it first.
        peer_->Command("wait-hello " + std::to_string(slot) + " 10000");
        EXPECT_TRUE(peer_->Ok("plug " + std::to_string(slot) + " " + record));
        const auto arrival = notifications_.WaitFor(DBT_DEVICEARRIVAL, interface_class);
        EXPECT_TRUE(arrival.has_value());
        return arrival ? arrival->name : std::wstring();
    }

    static bool configured_;
    static std::string setup_error_;
    static std::unique_ptr<PeerControl> peer_;
    static std::unique_ptr<DeviceNotifications> primed_;
    DeviceNotifications notifications_;
};

bool UsbSlotTest::configured_ = false;
std::string UsbSlotTest::setup_error_;
std::unique_ptr<PeerControl> UsbSlotTest::peer_;
std::unique_ptr<DeviceNotifications> UsbSlotTest::primed_;

TEST_F(UsbSlotTest, InterfacesArePresentOnlyWhileADeviceIsPlugged) {
    EXPECT_TRUE(PresentInterfaces(kDeviceClass).empty());
    EXPECT_TRUE(PresentInterfaces(kLoaderClass).empty());

    const std::wstring device_path = Plug(0, kRecordA);
    const auto device_paths = PresentInterfaces(kDeviceClass);
    ASSERT_EQ(device_paths.size(), 1u);
    EXPECT_EQ(_wcsicmp(device_paths[0].c_str(), device_path.c_str()), 0)
        << "notified name and enumerated path differ";
    EXPECT_TRUE(PresentInterfaces(kLoaderClass).empty());

    Plug(kLoaderSlot, kRecordB);
    EXPECT_EQ(PresentInterfaces(kLoaderClass).size(), 1u);
    EXPECT_EQ(PresentInterfaces(kDeviceClass).size(), 1u);

    ASSERT_TRUE(peer_->Ok("unplug 0"));
    EXPECT_TRUE(notifications_.WaitFor(DBT_DEVICEREMOVECOMPLETE, kDeviceClass, device_path).has_value());
    EXPECT_TRUE(PresentInterfaces(kDeviceClass).empty());
    EXPECT_FALSE(OpenInterface(device_path, false)) << "an unplugged interface must not open";
}

TEST_F(UsbSlotTest, DeviceInformationIsAnsweredSynchronouslyOnBothKindsOfHandle) {
    const std::wstring path = Plug(0, kRecordA);

    UniqueHandle plain = OpenInterface(path, false);
    ASSERT_TRUE(plain);
    EXPECT_EQ(QueryDeviceInfo(plain.get()), RecordBytes(kRecordA));

    // The suite asks without an OVERLAPPED on its overlapped handle.
    UniqueHandle overlapped = OpenInterface(path, true);
    ASSERT_TRUE(overlapped);
    EXPECT_EQ(QueryDeviceInfo(overlapped.get()), RecordBytes(kRecordA));

    BYTE small[10];
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(plain.get(), kDeviceInfoRequest, small, sizeof(small), small, sizeof(small),
                                 &returned, nullptr));
}

TEST_F(UsbSlotTest, WritesReachThePeerWholeAndInOrder) {
    UniqueHandle device = OpenInterface(Plug(0, kRecordA), true);
    ASSERT_TRUE(device);

    for (size_t size : {size_t{4096}, size_t{1}, size_t{517}}) {
        OverlappedRequest write(device.get(), static_cast<DWORD>(size));
        write.buffer() = Pattern(size, static_cast<unsigned>(size));
        ASSERT_TRUE(write.Start(kWriteRequest, static_cast<DWORD>(size)));
        EXPECT_EQ(write.Finish(), static_cast<DWORD>(size));
        EXPECT_EQ(peer_->NextWrite(0), ToHex(Pattern(size, static_cast<unsigned>(size))));
    }
}

TEST_F(UsbSlotTest, ReadsPendUntilThePeerSendsAndTakeAtMostTheirBufferSize) {
    UniqueHandle device = OpenInterface(Plug(0, kRecordA), true);
    ASSERT_TRUE(device);

    OverlappedRequest read(device.get(), kReceiveBufferBytes);
    ASSERT_TRUE(read.StartRead());
    EXPECT_FALSE(read.Done(200)) << "a read must wait for bytes";
    const auto first = Pattern(7, 1);
    ASSERT_TRUE(peer_->Ok("data 0 " + ToHex(first)));
    const auto got = read.Finish();
    ASSERT_EQ(got, 7u);
    EXPECT_EQ(read.Received(7), first);

    // Bytes queued before the reads: each read takes what fits, in order, across messages.
    const auto second = Pattern(1200, 2);
    const auto third = Pattern(300, 3);
    ASSERT_TRUE(peer_->Ok("data 0 " + ToHex(second)));
    ASSERT_TRUE(peer_->Ok("data 0 " + ToHex(third)));
    std::vector<BYTE> expected = second;
    expected.insert(expected.end(), third.begin(), third.end());
    std::vector<BYTE> received;
    while (received.size() < expected.size()) {
        OverlappedRequest next(device.get(), kReceiveBufferBytes);
        ASSERT_TRUE(next.StartRead());
        const auto count = next.Finish();
        ASSERT_TRUE(count.has_value());
        ASSERT_LE(*count, kReceiveBufferBytes);
        const auto chunk = next.Received(*count);
        received.insert(received.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(received, expected);
}

TEST_F(UsbSlotTest, CancelledAndClosedReadsEndAndTakeNoBytes) {
    const std::wstring path = Plug(0, kRecordA);
    UniqueHandle device = OpenInterface(path, true);
    ASSERT_TRUE(device);

    OverlappedRequest read(device.get(), kReceiveBufferBytes);
    ASSERT_TRUE(read.StartRead());
    ASSERT_TRUE(CancelIoEx(device.get(), read.overlapped()));
    DWORD error = 0;
    EXPECT_FALSE(read.Finish(&error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    // A read left pending on a closed handle must not swallow the next handle's bytes.
    {
        UniqueHandle closing = OpenInterface(path, true);
        ASSERT_TRUE(closing);
        auto abandoned = std::make_unique<OverlappedRequest>(closing.get(), kReceiveBufferBytes);
        ASSERT_TRUE(abandoned->StartRead());
        closing.reset();
        EXPECT_TRUE(abandoned->Done(kWaitMs)) << "closing the handle must end its read";
    }
    OverlappedRequest next(device.get(), kReceiveBufferBytes);
    ASSERT_TRUE(next.StartRead());
    const auto bytes = Pattern(33, 4);
    ASSERT_TRUE(peer_->Ok("data 0 " + ToHex(bytes)));
    ASSERT_EQ(next.Finish(), 33u);
    EXPECT_EQ(next.Received(33), bytes);
}

TEST_F(UsbSlotTest, FailReadFailsOneReadWhileTheDeviceStays) {
    UniqueHandle device = OpenInterface(Plug(0, kRecordA), true);
    ASSERT_TRUE(device);

    OverlappedRequest pending(device.get(), kReceiveBufferBytes);
    ASSERT_TRUE(pending.StartRead());
    ASSERT_TRUE(peer_->Ok("failread 0"));
    EXPECT_FALSE(pending.Finish());

    // With no read pending, the next one fails.
    ASSERT_TRUE(peer_->Ok("failread 0"));
    ASSERT_TRUE(peer_->Ok("data 0 0102"));
    OverlappedRequest failing(device.get(), kReceiveBufferBytes);
    if (failing.StartRead()) {
        EXPECT_FALSE(failing.Finish());
    }

    OverlappedRequest working(device.get(), kReceiveBufferBytes);
    ASSERT_TRUE(working.StartRead());
    EXPECT_EQ(working.Finish(), 2u) << "bytes queued before the failure stay queued";
    EXPECT_EQ(PresentInterfaces(kDeviceClass).size(), 1u);
    EXPECT_EQ(QueryDeviceInfo(device.get()), RecordBytes(kRecordA));
}

TEST_F(UsbSlotTest, UnplugFailsThePendingReadAndLaterRequests) {
    const std::wstring path = Plug(0, kRecordA);
    UniqueHandle device = OpenInterface(path, true);
    ASSERT_TRUE(device);

    OverlappedRequest read(device.get(), kReceiveBufferBytes);
    ASSERT_TRUE(read.StartRead());
    ASSERT_TRUE(peer_->Ok("unplug 0"));
    DWORD error = 0;
    EXPECT_FALSE(read.Finish(&error));
    EXPECT_NE(error, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(notifications_.WaitFor(DBT_DEVICEREMOVECOMPLETE, kDeviceClass, path).has_value());
    EXPECT_TRUE(PresentInterfaces(kDeviceClass).empty());

    EXPECT_FALSE(QueryDeviceInfo(device.get()).has_value());
    OverlappedRequest write(device.get(), 4);
    if (write.Start(kWriteRequest, 4)) {
        EXPECT_FALSE(write.Finish());
    }
    OverlappedRequest late_read(device.get(), kReceiveBufferBytes);
    if (late_read.StartRead()) {
        EXPECT_FALSE(late_read.Finish());
    }
}

TEST_F(UsbSlotTest, ALostPeerConnectionCountsAsUnplugAndTheSlotReconnects) {
    const std::wstring path = Plug(1, kRecordB);
    UniqueHandle device = OpenInterface(path, true);
    ASSERT_TRUE(device);

    OverlappedRequest read(device.get(), kReceiveBufferBytes);
    ASSERT_TRUE(read.StartRead());
    ASSERT_TRUE(peer_->Ok("drop 1"));
    EXPECT_FALSE(read.Finish());
    EXPECT_TRUE(notifications_.WaitFor(DBT_DEVICEREMOVECOMPLETE, kDeviceClass, path).has_value());
    EXPECT_EQ(peer_->Command("wait-hello 1 10000"), "ok 0");
}

TEST_F(UsbSlotTest, SlotsAreIndependent) {
    Plug(0, kRecordA);
    Plug(1, kRecordB);
    const auto paths = PresentInterfaces(kDeviceClass);
    ASSERT_EQ(paths.size(), 2u);

    // Tell the two interfaces apart by their device information.
    UniqueHandle a, b;
    for (const auto& path : paths) {
        UniqueHandle handle = OpenInterface(path, true);
        ASSERT_TRUE(handle);
        const auto info = QueryDeviceInfo(handle.get());
        ASSERT_TRUE(info.has_value());
        (*info == RecordBytes(kRecordA) ? a : b) = std::move(handle);
    }
    ASSERT_TRUE(a && b);
    EXPECT_EQ(QueryDeviceInfo(b.get()), RecordBytes(kRecordB));

    OverlappedRequest read_a(a.get(), kReceiveBufferBytes);
    OverlappedRequest read_b(b.get(), kReceiveBufferBytes);
    ASSERT_TRUE(read_a.StartRead());
    ASSERT_TRUE(read_b.StartRead());
    ASSERT_TRUE(peer_->Ok("data 1 bbbb"));
    ASSERT_EQ(read_b.Finish(), 2u);
    EXPECT_FALSE(read_a.Done(100));
    ASSERT_TRUE(peer_->Ok("data 0 aa"));
    ASSERT_EQ(read_a.Finish(), 1u);
    EXPECT_EQ(read_a.Received(1), std::vector<BYTE>{0xaa});

    OverlappedRequest write_b(b.get(), 3);
    write_b.buffer() = {1, 2, 3};
    ASSERT_TRUE(write_b.Start(kWriteRequest, 3));
    EXPECT_EQ(write_b.Finish(), 3u);
    EXPECT_EQ(peer_->NextWrite(1), "010203");
}

// Not a pass/fail check: prints the cost of one 512-byte write and its echo through the driver,
// the bound of a link that waits for an answer to every frame.
TEST_F(UsbSlotTest, EchoRoundTripTime) {
    UniqueHandle device = OpenInterface(Plug(0, kRecordA), true);
    ASSERT_TRUE(device);
    ASSERT_TRUE(peer_->Ok("echo 0 1"));

    constexpr int kRounds = 200;
    constexpr DWORD kFrameBytes = 512;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        OverlappedRequest read(device.get(), kReceiveBufferBytes);
        ASSERT_TRUE(read.StartRead());
        OverlappedRequest write(device.get(), kFrameBytes);
        ASSERT_TRUE(write.Start(kWriteRequest, kFrameBytes));
        ASSERT_EQ(write.Finish(), kFrameBytes);
        DWORD received = 0;
        while (received < kFrameBytes) {
            const auto count = read.Finish();
            ASSERT_TRUE(count.has_value());
            received += *count;
            if (received < kFrameBytes) {
                ASSERT_TRUE(read.StartRead());
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ info     ] %d echoed %lu-byte frames: %.3f ms per round trip, %.0f bytes/s\n", kRounds,
                static_cast<unsigned long>(kFrameBytes), seconds * 1000 / kRounds,
                kRounds * kFrameBytes / seconds);
}

// The image request as the loader sends it: buffered, the whole image as input, no output
// buffer, on a handle opened without overlapped I/O, so it blocks until the peer answers.
struct ImageSend {
    BOOL accepted = FALSE;
    DWORD returned = 0;
    DWORD error = 0;
};

TEST_F(UsbSlotTest, TheLoaderSlotForwardsAWholeImageAndAnswersWithThePeersCount) {
    const std::wstring path = Plug(kLoaderSlot, kRecordB);
    UniqueHandle loader = OpenInterface(path, false);
    ASSERT_TRUE(loader);

    // Several MiB in one request: they reach the peer whole. The bytes-returned value of a
    // request without output buffer is the count the driver completes it with (the peer's).
    const std::vector<BYTE> image = Pattern(8u << 20, 5);
    for (const auto& [status, count, accepted] :
         {std::tuple<int, DWORD, BOOL>{0, DWORD{8u << 20}, TRUE}, {0, DWORD{(8u << 20) - 5}, TRUE}, {1, 0, FALSE}}) {
        ImageSend sent;
        std::thread sender([&] {
            sent.accepted = DeviceIoControl(loader.get(), kImageRequest, const_cast<BYTE*>(image.data()),
                                            static_cast<DWORD>(image.size()), nullptr, 0, &sent.returned, nullptr);
            sent.error = GetLastError();
        });
        const std::string received = peer_->Command("next-image " + std::to_string(kLoaderSlot) + " 30000");
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", Crc32(image));
        EXPECT_EQ(received, "ok " + std::to_string(image.size()) + " " + crc);
        EXPECT_TRUE(peer_->Ok("image-done " + std::to_string(kLoaderSlot) + " " + std::to_string(status) + " " +
                              std::to_string(count)));
        sender.join();
        EXPECT_EQ(sent.accepted, accepted);
        if (accepted) {
            EXPECT_EQ(sent.returned, count);
            std::printf("[ info     ] image request of %lu bytes without output buffer: bytes returned %lu\n",
                        static_cast<unsigned long>(image.size()), static_cast<unsigned long>(sent.returned));
        } else {
            EXPECT_EQ(sent.error, static_cast<DWORD>(ERROR_IO_DEVICE));
        }
    }
    // An empty image never reaches the peer.
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(loader.get(), kImageRequest, nullptr, 0, nullptr, 0, &returned, nullptr));
}

// The host controller "\\.\HCD0" opens from a user process, names its root hub, and the root
// hub answers for each slot's port from its plug state.
TEST_F(UsbSlotTest, TheHostControllerAndItsRootHubReportThePluggedSlots) {
    const std::wstring booted = Plug(0, kRecordA);
    std::printf("[ info     ] booted class dbcc_name: %ls\n", booted.c_str());
    Plug(kLoaderSlot, kRecordB);

    UniqueHandle hcd = OpenInterface(L"\\\\.\\HCD0", false);
    ASSERT_TRUE(hcd) << "\\\\.\\HCD0 does not open: " << GetLastError();
    BYTE name[256] = {};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(hcd.get(), IOCTL_USB_GET_ROOT_HUB_NAME, name, sizeof(name), name, sizeof(name),
                                &returned, nullptr));
    const std::wstring hubName = reinterpret_cast<USB_ROOT_HUB_NAME*>(name)->RootHubName;
    UniqueHandle hub = OpenInterface(L"\\\\.\\" + hubName, false);
    ASSERT_TRUE(hub) << "the root hub does not open";

    USB_NODE_INFORMATION node{};
    ASSERT_TRUE(DeviceIoControl(hub.get(), IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof(node), &node, sizeof(node),
                                &returned, nullptr));
    ASSERT_EQ(node.u.HubInformation.HubDescriptor.bNumberOfPorts, kSlotCount);
    for (ULONG port = 1; port <= static_cast<ULONG>(kSlotCount); ++port) {
        USB_NODE_CONNECTION_INFORMATION connection{};
        connection.ConnectionIndex = port;
        ASSERT_TRUE(DeviceIoControl(hub.get(), IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &connection,
                                    sizeof(connection), &connection, sizeof(connection), &returned, nullptr));
        const bool plugged = port == 1 || port == kLoaderSlot + 1;
        EXPECT_EQ(connection.ConnectionStatus, plugged ? DeviceConnected : NoDeviceConnected) << "port " << port;
        if (plugged) {
            EXPECT_EQ(connection.DeviceDescriptor.idVendor, 0x0B66);
            EXPECT_EQ(connection.DeviceDescriptor.idProduct, port == 1 ? 0x41 : 0x40);
        }
    }
}

} // namespace
