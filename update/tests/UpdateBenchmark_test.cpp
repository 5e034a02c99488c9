// Benchmarks of the loader, left out of the normal run (zvupdate15_benchmark runs them): an
// 8 MiB image through the image request against loopback TCP in this process (the test driver's
// floor: it forwards the image over loopback TCP), and the time from the loader-mode device's
// plug to the start of the send against the send timer's 20 ms period.
#include "UpdateTestSupport.h"

#include "BenchmarkRounds.h"
#include "ComPtr.h"
#include "Handles.h"
#include "OsImageLoader.h"
#include "UsbDevices.h"
#include "ZvUpdate15.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace tv::update::test {
namespace {

constexpr size_t kImageBytes = 8u << 20;

// Milliseconds to move `bytes` over a loopback TCP connection, sent with one call as the driver
// sends, until the receiver has all of it.
double LoopbackMilliseconds(const std::vector<uint8_t>& bytes) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    listen(listener, 1);
    SOCKET sender = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    SOCKET receiver = accept(listener, nullptr, nullptr);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::thread reader([receiver, total = bytes.size()] {
        std::vector<char> buffer(1 << 16);
        size_t received = 0;
        while (received < total) {
            const int n = recv(receiver, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (n <= 0)
                break;
            received += static_cast<size_t>(n);
        }
    });
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = send(sender, reinterpret_cast<const char*>(bytes.data()) + sent,
                           static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    reader.join();
    QueryPerformanceCounter(&end);
    closesocket(sender);
    closesocket(receiver);
    closesocket(listener);
    return (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

TEST(UpdateBenchmark, DISABLED_ImageLoadAndPlugToSend) {
    REQUIRE_UPDATE_EMULATOR();
    UpdateEmulator& emulator = SharedEmulator();
    uint32_t crc = 0;
    const std::wstring file = emulator.MakeImage("bench-8m.img", kImageBytes, crc);
    OsImage image;
    ASSERT_EQ(ReadOsImage(file, image), 0);
    const std::vector<uint8_t> bytes(image.bytes.get(), image.bytes.get() + image.length);

    // Each figure is the median of its rounds, the two sides of the load timed in turn. A large
    // transfer over loopback TCP slows the next one for a while after it has ended, so each side
    // starts its clock after the same pause.
    constexpr int kLoadRounds = 9, kPlugRounds = 9;
    constexpr DWORD kSettleMs = 300;
    const auto loopback = [&] {
        Sleep(kSettleMs);
        return LoopbackMilliseconds(bytes) / 1000;
    };
    const auto load = [&]() -> double {
        if (!WaitForInterface(true, 0, false, 10000) || !emulator.PlugLoader("1.0.0", "noreboot=1") ||
            !WaitForInterface(true, 0, true, 10000))
            return -1;
        com::UniqueFileHandle device(
            devlink15::OpenUsbDevicePipe(devlink15::UsbInterfaceClass::Loader, "", 0, false));
        if (!device)
            return -1;
        Sleep(kSettleMs);
        const double start = tv::test::BenchmarkClock();
        const SendResult result = SendOsImage(device.Get(), image);
        const double seconds = tv::test::BenchmarkClock() - start;
        device.Reset();
        emulator.UnplugAll();
        EXPECT_TRUE(result.accepted);
        EXPECT_EQ(result.returned, image.length);
        return result.accepted && result.returned == image.length ? seconds : -1;
    };
    const auto [tcp, loaded] = tv::test::MedianOfRounds(kLoadRounds, loopback, load);
    ASSERT_GT(tcp, 0) << "an image load failed";
    std::printf("benchmark update_image_load_8mib: ratio %.1f (goal <= 10)\n", loaded / std::max(tcp, 1e-4));
    std::printf("  (image request %.1f ms, loopback TCP %.1f ms, median of %d rounds each)\n", loaded * 1000,
                tcp * 1000, kLoadRounds);

    // The loader waits for a device; the plug goes out and the clock runs until the device event
    // (set just before the send starts).
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    {
        com::ComPtr<IZvUpdate152> loader;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvUpdate15, nullptr, CLSCTX_INPROC_SERVER, IID_IZvUpdate152,
                                                  reinterpret_cast<void**>(loader.ReleaseAndGetAddressOf())));
        com::UniqueBstr name(SysAllocString(file.c_str()));
        const auto plugToSend = [&]() -> double {
            long code = -1;
            // The last round's device is gone before the loader looks for the next; the load is
            // under way after 1 s.
            if (!WaitForInterface(true, 0, false, 10000) ||
                FAILED(loader->LoadZvOS(name.Get(), 0, 10000, &code)) || code != 0)
                return -1;
            const double plugged = tv::test::BenchmarkClock();
            if (!emulator.PlugLoader("1.0.1") || FAILED(loader->WaitForReboot(10000, &code)) || code != 0)
                return -1;
            const double seconds = tv::test::BenchmarkClock() - plugged;
            loader->WaitForLoadZvOS(20000, &code);
            EXPECT_EQ(code, 0);
            emulator.UnplugAll();
            return code == 0 ? seconds : -1;
        };
        const double toSend = tv::test::MedianOfRounds(kPlugRounds, plugToSend)[0];
        ASSERT_GT(toSend, 0) << "a load from a plugged device failed";
        std::printf("benchmark update_plug_to_send: ratio %.1f (goal <= 5)\n", toSend * 1000 / 20.0);
        std::printf("  (plug to send start %.0f ms, median of %d rounds; send timer period 20 ms)\n",
                    toSend * 1000, kPlugRounds);
    }
    CoUninitialize();
    emulator.UnplugAll();
}

} // namespace
} // namespace tv::update::test
