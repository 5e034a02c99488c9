#include "UsbDevices.h"

#include <initguid.h>

#include "Handles.h"

#include <setupapi.h>
#include <usbioctl.h>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

namespace devlink15 {
namespace {

// {B66756D6-C253-43B1-A065-80913EC5AC72}: the device's own driver.
constexpr GUID kDeviceInterfaceClass = {
    0xb66756d6, 0xc253, 0x43b1, {0xa0, 0x65, 0x80, 0x91, 0x3e, 0xc5, 0xac, 0x72}};
// {00873FDF-61A8-11D1-AA5E-00C04FB1728B}: the loader's interface, only counted when numbering.
constexpr GUID kLoaderInterfaceClass = {
    0x00873fdf, 0x61a8, 0x11d1, {0xaa, 0x5e, 0x00, 0xc0, 0x4f, 0xb1, 0x72, 0x8b}};

std::atomic<int> openRetryCount{10};

struct DeviceInfoSetCloser {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using UniqueDeviceInfoSet = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceInfoSetCloser>;

const GUID& ClassGuid(UsbInterfaceClass interfaceClass) {
    return interfaceClass == UsbInterfaceClass::Loader ? kLoaderInterfaceClass : kDeviceInterfaceClass;
}

HANDLE OpenPath(const std::string& path, bool overlapped) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
}

// The path of present interface `index` of the class, when it can be opened; empty otherwise.
std::string InterfacePath(UsbInterfaceClass interfaceClass, int index) {
    const GUID& guid = ClassGuid(interfaceClass);
    UniqueDeviceInfoSet set(
        SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (set.get() == INVALID_HANDLE_VALUE) {
        set.release();
        return {};
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &guid, static_cast<DWORD>(index), &data))
        return {};
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set.get(), &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return {};
    std::vector<BYTE> storage(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set.get(), &data, detail, size, nullptr, nullptr))
        return {};
    std::string path = detail->DevicePath;
    tv::com::UniqueFileHandle probe(OpenPath(path, false));
    return static_cast<bool>(probe) ? path : std::string();
}

std::array<bool, kUsbInterfaceSlots> PresentInterfaces(UsbInterfaceClass interfaceClass) {
    std::array<bool, kUsbInterfaceSlots> present{};
    for (int i = 0; i < kUsbInterfaceSlots; ++i)
        present[i] = IsDeviceInterfacePresent(interfaceClass, i);
    return present;
}

std::optional<UsbDeviceSlot> SlotOf(int deviceNumber) {
    return MapDeviceNumber(PresentInterfaces(UsbInterfaceClass::Loader),
                           PresentInterfaces(UsbInterfaceClass::Device), deviceNumber);
}

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text; ++text)
        narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return narrow;
}

// Variable-length answers of the hub requests: first the fixed part, then the announced size.
template <class Fixed>
std::vector<BYTE> HubRequest(HANDLE hub, DWORD code, const Fixed& input, DWORD (*announced)(const Fixed&)) {
    Fixed fixed = input;
    DWORD returned = 0;
    if (!DeviceIoControl(hub, code, &fixed, sizeof(fixed), &fixed, sizeof(fixed), &returned, nullptr))
        return {};
    const DWORD size = std::max<DWORD>(announced(fixed), sizeof(Fixed));
    std::vector<BYTE> answer(size);
    *reinterpret_cast<Fixed*>(answer.data()) = input;
    if (!DeviceIoControl(hub, code, answer.data(), size, answer.data(), size, &returned, nullptr))
        return {};
    return answer;
}

void CountProductsOnHub(const std::string& hubName, int depth, UsbProductCounts& counts);

void CountPort(HANDLE hub, ULONG port, int depth, UsbProductCounts& counts) {
    USB_NODE_CONNECTION_INFORMATION connection{};
    connection.ConnectionIndex = port;
    DWORD returned = 0;
    if (!DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &connection, sizeof(connection),
                         &connection, sizeof(connection), &returned, nullptr))
        return;
    if (connection.ConnectionStatus != DeviceConnected)
        return;
    if (connection.DeviceIsHub) {
        USB_NODE_CONNECTION_NAME query{};
        query.ConnectionIndex = port;
        auto answer = HubRequest<USB_NODE_CONNECTION_NAME>(
            hub, IOCTL_USB_GET_NODE_CONNECTION_NAME, query,
            [](const USB_NODE_CONNECTION_NAME& n) { return n.ActualLength; });
        if (!answer.empty())
            CountProductsOnHub(
                Narrow(reinterpret_cast<USB_NODE_CONNECTION_NAME*>(answer.data())->NodeName), depth + 1,
                counts);
        return;
    }
    if (connection.DeviceDescriptor.idVendor != kZelvanUsbVendorId)
        return;
    ++counts.total;
    if (connection.DeviceDescriptor.idProduct == kZelvanHubProductId)
        ++counts.loaderProduct;
    else if (connection.DeviceDescriptor.idProduct == kZelvanSecondProductId)
        ++counts.bootedProduct;
}

void CountProductsOnHub(const std::string& hubName, int depth, UsbProductCounts& counts) {
    constexpr int kMaxHubDepth = 6; // USB allows five tiers of hubs below the root
    if (hubName.empty() || depth > kMaxHubDepth)
        return;
    tv::com::UniqueFileHandle hub(CreateFileA(("\\\\.\\" + hubName).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
    if (!static_cast<bool>(hub))
        return;
    USB_NODE_INFORMATION node{};
    node.NodeType = UsbHub;
    DWORD returned = 0;
    if (!DeviceIoControl(hub.Get(), IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof(node), &node, sizeof(node),
                         &returned, nullptr))
        return;
    const ULONG ports = node.u.HubInformation.HubDescriptor.bNumberOfPorts;
    for (ULONG port = 1; port <= ports; ++port)
        CountPort(hub.Get(), port, depth, counts);
}

} // namespace

HANDLE OpenUsbDevicePipe(UsbInterfaceClass interfaceClass, const std::string& pipeName, int index,
                         bool overlapped) {
    std::string path = InterfacePath(interfaceClass, index);
    if (path.empty())
        return INVALID_HANDLE_VALUE;
    if (!pipeName.empty())
        path += "\\" + pipeName;
    return OpenPath(path, overlapped);
}

bool IsDeviceInterfacePresent(UsbInterfaceClass interfaceClass, int index) {
    return !InterfacePath(interfaceClass, index).empty();
}

int FindDeviceClassByIndex(int deviceNumber) {
    const auto slot = SlotOf(deviceNumber);
    return slot ? static_cast<int>(slot->interfaceClass) : -1;
}

int DeviceClassIndexOf(int deviceNumber) {
    const auto slot = SlotOf(deviceNumber);
    return slot && slot->interfaceClass == UsbInterfaceClass::Device ? slot->interfaceIndex : -1;
}

UsbProductCounts ScanHostControllers() {
    UsbProductCounts counts;
    for (int controller = 0; controller < 10; ++controller) {
        const std::string name = "\\\\.\\HCD" + std::to_string(controller);
        tv::com::UniqueFileHandle hcd(
            CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!static_cast<bool>(hcd))
            continue;
        USB_ROOT_HUB_NAME query{};
        auto answer =
            HubRequest<USB_ROOT_HUB_NAME>(hcd.Get(), IOCTL_USB_GET_ROOT_HUB_NAME, query,
                                          [](const USB_ROOT_HUB_NAME& n) { return n.ActualLength; });
        if (!answer.empty())
            CountProductsOnHub(Narrow(reinterpret_cast<USB_ROOT_HUB_NAME*>(answer.data())->RootHubName), 0,
                               counts);
    }
    return counts;
}

int CountHubDevices() {
    return ScanHostControllers().loaderProduct;
}

int CountUsbDevices() {
    int count = CountHubDevices();
    for (int i = 0; i < kUsbInterfaceSlots; ++i)
        if (IsDeviceInterfacePresent(UsbInterfaceClass::Device, i))
            ++count;
    return count;
}

bool QueryUsbDeviceInfo(int deviceNumber, UsbDeviceInfo& info) {
    const int index = DeviceClassIndexOf(deviceNumber);
    if (index < 0)
        return false;
    tv::com::UniqueFileHandle device(OpenUsbDevicePipe(UsbInterfaceClass::Device, "", index, false));
    if (!static_cast<bool>(device))
        return false;
    uint8_t record[kUsbDeviceInfoBytes] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(device.Get(), kUsbDeviceInfoRequest, record, sizeof(record), record, sizeof(record),
                         &returned, nullptr))
        return false;
    info = ParseUsbDeviceInfo(record);
    return true;
}

int FindDeviceById(const std::string& deviceId) {
    for (int number = 0; number < kUsbInterfaceSlots; ++number) {
        UsbDeviceInfo info;
        if (QueryUsbDeviceInfo(number, info) && info.deviceId == deviceId)
            return number;
    }
    return -1;
}

int OpenRetryCount() {
    return openRetryCount.load();
}
void SetOpenRetryCount(int count) {
    openRetryCount.store(count);
}

} // namespace devlink15
