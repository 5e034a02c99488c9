// The device factories against the emulator: arrival and removal through real device
// notifications, identification on the device's console, the device list dialog driven as a
// user would, the not-answering report, and the Windows Me factory's scanning through a version
// hook. The device objects here are small stand-ins over a real port.
#include "EmulatorSession.h"
#include "HResult.h"
#include "LangIds.h"
#include "UiHarness.h"
#include "UsbDevices.h"
#include "Zelvan15Classes.h"
#include "ZvFactory15.h"
#include "ZvFactory15Me.h"
#include "ZvPort15.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace devlink15 {
namespace {

using tv::com::ComPtr;

struct ComInit {
    ComInit() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComInit() { CoUninitialize(); }
};

// Answers the identity queries and the reset; every other operation is not needed here.
class StandInDevice : public tv::com::ComObject<StandInDevice, IZvDevice> {
  public:
    explicit StandInDevice(ComPtr<ZvPort15> port) : port_(std::move(port)) {}
    std::string id, name;
    std::vector<long> resets;

    STDMETHODIMP GetName(LONG max, unsigned char* out) override { return Copy(name, max, out); }
    STDMETHODIMP GetStrID(LONG max, unsigned char* out) override { return Copy(id, max, out); }
    STDMETHODIMP ResetDeviceState(LONG count) override {
        resets.push_back(count);
        if (count == -1 || count == -2) {
            BSTR ignored = nullptr;
            port_->Disconnect(count == -1 ? &ignored : nullptr);
        }
        return S_OK;
    }
    STDMETHODIMP GetDescription(LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttributes(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetVersion(LONG*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFileItems(LPSTR, LONG, IZvEnumFileItems**) override { return E_NOTIMPL; }
    STDMETHODIMP CopyFileItem(LPSTR, LPSTR, IZvFileOperationCallback*, LONG, unsigned char*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP ExportFileItem(LPSTR, LPSTR, IZvFileOperationCallback*, LONG, unsigned char*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP ImportFileItem(LPSTR, LPSTR, IZvFileOperationCallback*, LONG, unsigned char*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP DeleteFileItem(LPSTR, LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP RenameFileItem(LPSTR, LPSTR, LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateFolder(LPSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemsInfo(LONG, LONG, LPSTR*, IZvItemsInfoCallback*) override { return E_NOTIMPL; }
    STDMETHODIMP GetVolumeInfo(LPSTR, VOLUMEINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropPageID(LONG, CAUUID*) override { return E_NOTIMPL; }
    STDMETHODIMP Command(LPSTR, LONG*, LPSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAllItems(IZvEnumFileItems**) override { return E_NOTIMPL; }
    STDMETHODIMP SetDeviceName(LPSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceInfo(LONG*, LPSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceAuxData(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDeviceAuxData(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP FindItems(LPSTR, IZvEnumFileItems**) override { return E_NOTIMPL; }
    STDMETHODIMP SetItemAttributes(ZVFILEITEM) override { return E_NOTIMPL; }
    STDMETHODIMP get_EnableUI(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_EnableUI(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_AutoPC_ON_PC_OFF_Mode(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AutoPC_ON_PC_OFF_Mode(LONG) override { return E_NOTIMPL; }

  private:
    static HRESULT Copy(const std::string& text, LONG max, unsigned char* out) {
        if (!out || static_cast<LONG>(text.size()) >= max)
            return E_INVALIDARG;
        memcpy(out, text.c_str(), text.size() + 1);
        return S_OK;
    }
    ComPtr<ZvPort15> port_;
};

// Set, every stand-in's identification is answered as if by another device.
std::atomic<bool> answerForAnother{false};

class StandInFactoryDevice : public FactoryDevice {
  public:
    StandInFactoryDevice(ComPtr<StandInDevice> device, ComPtr<ZvPort15> port)
        : device_(std::move(device)), port_(std::move(port)) {}
    void SetStrId(const std::string& id) override { device_->id = id; }
    void SetName(const std::string& name) override { device_->name = name; }
    HRESULT ConnectPort(int number) override { return port_->Connect(number); }
    HRESULT PortCommand(const std::string& command, std::string& reply) override {
        const std::wstring wide(command.begin(), command.end());
        tv::com::UniqueBstr text(SysAllocString(wide.c_str()));
        BSTR answer = nullptr;
        const HRESULT hr = port_->Command(text.Get(), &answer);
        tv::com::UniqueBstr owned(answer);
        reply.clear();
        for (UINT i = 0; answer && i < SysStringLen(answer); ++i)
            reply.push_back(static_cast<char>(answer[i]));
        if (answerForAnother)
            reply = "id OTHER99";
        return hr;
    }
    void DisconnectPort() override {
        BSTR ignored = nullptr;
        port_->Disconnect(&ignored);
    }
    HANDLE PromptEvent() override { return port_->PromptEvent(); }
    HRESULT QueryDevice(IZvDevice** device) override {
        return device_->QueryInterface(__uuidof(IZvDevice), reinterpret_cast<void**>(device));
    }

  private:
    ComPtr<StandInDevice> device_;
    ComPtr<ZvPort15> port_;
};

// Every stand-in made, so that a test can look at what happened to them.
std::vector<ComPtr<StandInDevice>>& MadeDevices() {
    static std::vector<ComPtr<StandInDevice>> made;
    return made;
}

HRESULT MakeStandIn(std::unique_ptr<FactoryDevice>& device) {
    ComPtr<ZvPort15> port;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(port));
    ComPtr<StandInDevice> standIn;
    TV_RETURN_IF_FAILED(tv::com::MakeComObject(standIn, port));
    MadeDevices().push_back(standIn);
    device = std::make_unique<StandInFactoryDevice>(standIn, port);
    return S_OK;
}

struct Report {
    GUID factory;
    std::string text; // the device's string id when found, the name given when lost
};

class RecordingSink : public tv::com::ComObject<RecordingSink, IZvFactoryCallback> {
  public:
    STDMETHODIMP OnDeviceFound(GUID factory, IZvDevice* device) override {
        char id[260] = {};
        device->GetStrID(sizeof(id), reinterpret_cast<unsigned char*>(id));
        found.push_back({factory, id});
        return S_OK;
    }
    STDMETHODIMP OnDeviceLost(GUID factory, LPSTR name) override {
        lost.push_back({factory, name ? name : ""});
        return S_OK;
    }
    std::vector<Report> found;
    std::vector<Report> lost;
};

void Pump(DWORD milliseconds) {
    tv::test::PollUntil([] { return false; }, milliseconds);
}

void ForgetRegistration(const std::string& id) {
    RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kDeviceListKey) + "\\" + id).c_str());
}

DWORD ReadDword(const std::string& id, const char* value) {
    DWORD data = 0xFFFFFFFF, size = sizeof(data);
    RegGetValueA(HKEY_CURRENT_USER, (std::string(kDeviceListKey) + "\\" + id).c_str(), value, RRF_RT_REG_DWORD,
                 nullptr, &data, &size);
    return data;
}

// Answers the device list dialog from another thread, as a user at the keyboard would: each
// answer is a name typed into the box and OK; a message box in between is dismissed.
// Answers the naming dialog with the given names in turn (then with what it shows), and OK to
// every message box; counts both.
class DialogAnswerer {
  public:
    explicit DialogAnswerer(std::vector<std::string> names, bool own)
        : names_(std::move(names)), own_(own), answerer_([this](HWND dialog) { Answer(dialog); }) {}
    int Dialogs() const { return dialogs_; }
    // Answers given to a naming dialog that was already answered before (it stayed open).
    int AnswersToTheSameDialog() const { return repeated_; }
    int MessageBoxes() const { return boxes_; }
    std::vector<std::string> Prefills() const { return prefills_; }

  private:
    void Answer(HWND dialog) {
        if (HWND nameBox = GetDlgItem(dialog, IDC_DEVICE_NAME)) {
            char prefill[260] = {};
            GetWindowTextA(nameBox, prefill, sizeof(prefill));
            prefills_.push_back(prefill);
            ++dialogs_;
            if (dialog == lastDialog_)
                ++repeated_;
            lastDialog_ = dialog;
            const std::string name = next_ < names_.size() ? names_[next_++] : prefill;
            SetWindowTextA(nameBox, name.c_str());
            if (own_)
                SendMessageW(GetDlgItem(dialog, IDC_DEVICE_OWN), BM_CLICK, 0, 0);
        } else {
            ++boxes_;
        }
        tv::test::ClickButton(dialog, IDOK);
    }
    std::vector<std::string> names_;
    size_t next_ = 0;
    bool own_;
    std::atomic<int> dialogs_{0};
    std::atomic<int> boxes_{0};
    std::atomic<int> repeated_{0};
    HWND lastDialog_ = nullptr;
    std::vector<std::string> prefills_;
    tv::test::DialogAnswerer answerer_; // last: it calls Answer until it is destroyed
};

class FactoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_EMULATOR();
        MadeDevices().clear();
        ASSERT_TRUE(SUCCEEDED(tv::com::MakeComObject(sink_)));
    }
    void TearDown() override {
        answerForAnother = false;
        SetSystemVersionSource(nullptr);
        MadeDevices().clear();
    }

    // A factory whose device notifications are known to work: plugging a probe device right
    // after the first registration of the process may go unnoticed, so the probe is replugged
    // until its arrival is seen.
    void StartFactory() {
        ASSERT_TRUE(SUCCEEDED(tv::com::MakeComObject(factory_, DeviceMaker(&MakeStandIn))));
        long cookie = -1;
        ASSERT_EQ(factory_->Advise(sink_.Get(), &cookie), S_OK);
        EXPECT_EQ(cookie, 0);
    }

    ComInit com_;
    ComPtr<RecordingSink> sink_;
    ComPtr<ZvFactory15> factory_;
};

bool Found(const RecordingSink& sink, const GUID& factory, const std::string& id) {
    for (const Report& report : sink.found)
        if (IsEqualGUID(report.factory, factory) && report.text == id)
            return true;
    return false;
}

// Plugs the device until the factory's sink hears of it (the first notification registration of
// a process may take a moment to take effect); the number of plugs needed, or 0.
int PlugUntilFound(ZvFactory15&, RecordingSink& sink, std::unique_ptr<test::PluggedDevice>& device, int slot,
                   const std::string& id, const std::string& shortId, const GUID& expected) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        device.reset();
        Pump(300);
        device = std::make_unique<test::PluggedDevice>(slot, id, shortId);
        if (tv::test::PollUntil([&] { return Found(sink, expected, "@" + shortId); }, 30000))
            return attempt;
    }
    return 0;
}

TEST_F(FactoryTest, AFirstSeenDeviceIsNamedAnnouncedAndLostAgain) {
    ForgetRegistration("@FAC0001");
    ForgetRegistration("@FAC0002");
    StartFactory();
    {
        // The first name is taken by another registered device: the dialog comes again,
        // prefilled with the string id, and the second name is written.
        ASSERT_EQ(WriteDeviceRegistration("@FAC0002", "Taken name", false), S_OK);
        DialogAnswerer answerer({"Taken name", "My Zelvan"}, false);
        std::unique_ptr<test::PluggedDevice> device;
        ASSERT_NE(PlugUntilFound(*factory_.Get(), *sink_.Get(), device, 1, "FACTORY00001", "FAC0001", kClsidZvFactory15), 0);
        EXPECT_EQ(answerer.Dialogs(), 2);
        EXPECT_EQ(answerer.MessageBoxes(), 1);
        for (const std::string& prefill : answerer.Prefills())
            EXPECT_EQ(prefill, "@FAC0001");
        std::string name;
        ASSERT_TRUE(ReadDeviceName("@FAC0001", name));
        EXPECT_EQ(name, "My Zelvan");
        EXPECT_EQ(ReadDword("@FAC0001", "IsGuest"), 1u);
        EXPECT_EQ(ReadDword("@FAC0001", "DisconnectionAlert"), 1u);
        EXPECT_EQ(factory_->DeviceCount(), 1u);
        // The device answered its identification on the console.
        EXPECT_NE(device->Request("log").find("id $pipe=17"), std::string::npos);

        // A sink advised later hears of the device at once.
        ComPtr<RecordingSink> late;
        ASSERT_TRUE(SUCCEEDED(tv::com::MakeComObject(late)));
        long cookie = -1;
        EXPECT_EQ(factory_->Advise(late.Get(), &cookie), S_OK);
        EXPECT_EQ(cookie, 1);
        EXPECT_TRUE(Found(*late.Get(), kClsidZvFactory15, "@FAC0001"));
        EXPECT_EQ(factory_->UnAdvise(cookie), S_OK);
        EXPECT_EQ(factory_->UnAdvise(cookie), S_OK); // an emptied slot is left alone
        EXPECT_EQ(factory_->UnAdvise(2), E_INVALIDARG);
        EXPECT_EQ(factory_->UnAdvise(-1), E_INVALIDARG);
    }
    // Unplugged: the sink hears the name the device was given.
    ASSERT_TRUE(tv::test::PollUntil([&] { return !sink_->lost.empty(); }, 15000));
    EXPECT_TRUE(IsEqualGUID(sink_->lost[0].factory, kClsidZvFactory15));
    EXPECT_EQ(sink_->lost[0].text, "My Zelvan");
    EXPECT_EQ(factory_->DeviceCount(), 0u);
    ASSERT_FALSE(MadeDevices().empty());
    EXPECT_EQ(MadeDevices().back()->resets, std::vector<long>{-1});
}

TEST_F(FactoryTest, ARegisteredDeviceIsAnnouncedWithoutDialogAndAnOwnDeviceIsNotAGuest) {
    ForgetRegistration("@FAC0003");
    StartFactory();
    {
        DialogAnswerer answerer({"Own device"}, true);
        std::unique_ptr<test::PluggedDevice> device;
        ASSERT_NE(PlugUntilFound(*factory_.Get(), *sink_.Get(), device, 1, "FACTORY00003", "FAC0003", kClsidZvFactory15), 0);
        EXPECT_EQ(ReadDword("@FAC0003", "IsGuest"), 0u);
    }
    ASSERT_TRUE(tv::test::PollUntil([&] { return !sink_->lost.empty(); }, 15000));
    sink_->found.clear();
    {
        DialogAnswerer answerer({}, false);
        std::unique_ptr<test::PluggedDevice> device;
        ASSERT_NE(PlugUntilFound(*factory_.Get(), *sink_.Get(), device, 1, "FACTORY00003", "FAC0003", kClsidZvFactory15), 0);
        EXPECT_EQ(answerer.Dialogs(), 0);
        EXPECT_EQ(MadeDevices().back()->name, "Own device");
    }
}

TEST_F(FactoryTest, AnInvalidNameIsRefusedWithAMessageAndAskedAgain) {
    ForgetRegistration("@FAC0006");
    StartFactory();
    DialogAnswerer answerer({"", "Valid name"}, false);
    std::unique_ptr<test::PluggedDevice> device;
    ASSERT_NE(PlugUntilFound(*factory_.Get(), *sink_.Get(), device, 1, "FACTORY00006", "FAC0006", kClsidZvFactory15), 0);
    // The empty name is answered inside the dialog, which stays up until a valid name is given,
    // its name box set back to the string id.
    EXPECT_EQ(answerer.Dialogs(), 2);
    EXPECT_EQ(answerer.AnswersToTheSameDialog(), 1);
    EXPECT_EQ(answerer.MessageBoxes(), 1);
    EXPECT_EQ(answerer.Prefills(), (std::vector<std::string>{"@FAC0006", "@FAC0006"}));
    std::string name;
    ASSERT_TRUE(ReadDeviceName("@FAC0006", name));
    EXPECT_EQ(name, "Valid name");
}

TEST_F(FactoryTest, ADeviceReportedTwiceIsLostOnlyAtItsSecondRemoval) {
    ASSERT_EQ(WriteDeviceRegistration("@FAC0007", "Twice", false), S_OK);
    StartFactory();
    std::unique_ptr<test::PluggedDevice> device;
    ASSERT_NE(PlugUntilFound(*factory_.Get(), *sink_.Get(), device, 1, "FACTORY00007", "FAC0007", kClsidZvFactory15), 0);
    const std::string path = InterfacePathOf(device->Number());
    ASSERT_FALSE(path.empty());
    // A second arrival of a known interface is counted, not announced.
    const size_t found = sink_->found.size();
    EXPECT_EQ(factory_->OnArrival(path), S_OK);
    EXPECT_EQ(sink_->found.size(), found);
    factory_->OnRemoval(path);
    EXPECT_TRUE(sink_->lost.empty());
    EXPECT_EQ(factory_->DeviceCount(), 1u);
    factory_->OnRemoval(path);
    ASSERT_EQ(sink_->lost.size(), 1u);
    EXPECT_EQ(sink_->lost[0].text, "Twice");
    EXPECT_EQ(factory_->DeviceCount(), 0u);
    EXPECT_EQ(MadeDevices().back()->resets, std::vector<long>{-1});
}

ZvFactory15* rearrivingFactory = nullptr;
std::string rearrivingPath;

void CALLBACK ReArrive(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    rearrivingFactory->OnArrival(rearrivingPath);
}

TEST_F(FactoryTest, OnWindows98ARemovalFollowedByAnArrivalIsNotALoss) {
    SetSystemVersionSource([]() -> DWORD { return 0xC0000A04; });
    ASSERT_EQ(WriteDeviceRegistration("@FAC0008", "Bouncing", false), S_OK);
    StartFactory();
    std::unique_ptr<test::PluggedDevice> device;
    ASSERT_NE(PlugUntilFound(*factory_.Get(), *sink_.Get(), device, 1, "FACTORY00008", "FAC0008", kClsidZvFactory15), 0);
    const std::string path = InterfacePathOf(device->Number());
    ASSERT_FALSE(path.empty());

    // The interface comes back while the removal waits for it: the device stays.
    rearrivingFactory = factory_.Get();
    rearrivingPath = path;
    ASSERT_NE(SetTimer(nullptr, 0, 300, &ReArrive), 0u);
    DWORD start = GetTickCount();
    factory_->OnRemoval(path);
    EXPECT_LT(GetTickCount() - start, 1400u);
    EXPECT_TRUE(sink_->lost.empty());
    EXPECT_EQ(factory_->DeviceCount(), 1u);

    // It does not come back: lost once the wait is over.
    start = GetTickCount();
    factory_->OnRemoval(path);
    EXPECT_GE(GetTickCount() - start, 1400u);
    ASSERT_EQ(sink_->lost.size(), 1u);
    EXPECT_EQ(sink_->lost[0].text, "Bouncing");

    // An arrival right after a removal is let pass; one after the quiet time is taken.
    const size_t found = sink_->found.size();
    EXPECT_EQ(factory_->OnArrival(""), S_OK);
    EXPECT_EQ(sink_->found.size(), found);
    Pump(5200);
    EXPECT_EQ(factory_->OnArrival(""), S_OK);
    EXPECT_TRUE(Found(*sink_.Get(), kClsidZvFactory15, "@FAC0008"));
    EXPECT_EQ(sink_->found.size(), found + 1);
}

TEST_F(FactoryTest, ADeviceAnsweringForAnotherIsDroppedAndTriedAgainLater) {
    ASSERT_EQ(WriteDeviceRegistration("@FAC0009", "Mismatch", false), S_OK);
    StartFactory();
    answerForAnother = true;
    std::unique_ptr<test::PluggedDevice> device;
    auto released = [] { return !MadeDevices().empty() && MadeDevices().back()->resets == std::vector<long>{-2}; };
    for (int attempt = 0; attempt < 3 && !released(); ++attempt) {
        device.reset();
        Pump(300);
        device = std::make_unique<test::PluggedDevice>(1, "FACTORY00009", "FAC0009");
        tv::test::PollUntil(released, 30000);
    }
    ASSERT_TRUE(released());
    // Neither announced nor reported as not answering.
    EXPECT_TRUE(sink_->found.empty());
    EXPECT_EQ(factory_->DeviceCount(), 0u);
    // Forgotten: the next arrival tries the device again.
    answerForAnother = false;
    EXPECT_EQ(factory_->OnArrival(""), S_OK);
    EXPECT_TRUE(Found(*sink_.Get(), kClsidZvFactory15, "@FAC0009"));
    EXPECT_EQ(factory_->DeviceCount(), 1u);
}

TEST_F(FactoryTest, ADeviceThatDoesNotAnswerIsReportedAndReleased) {
    ASSERT_EQ(WriteDeviceRegistration("@FAC0004", "Silent one", false), S_OK);
    StartFactory();
    std::unique_ptr<test::PluggedDevice> device;
    // The identification is held back longer than the factory waits for the prompt.
    for (int attempt = 0; attempt < 3 && sink_->found.empty(); ++attempt) {
        device.reset();
        Pump(300);
        device = std::make_unique<test::PluggedDevice>(1, "FACTORY00004", "FAC0004");
        device->Request("fault delay=25000");
        tv::test::PollUntil([&] { return !sink_->found.empty(); }, 40000);
    }
    ASSERT_EQ(sink_->found.size(), 1u);
    EXPECT_TRUE(IsEqualGUID(sink_->found[0].factory, kNotAnsweringDevice));
    EXPECT_EQ(sink_->found[0].text, "@FAC0004");
    EXPECT_EQ(factory_->DeviceCount(), 0u);
    // The factory let go of the device's port, waiting for it, and kept no reference.
    ASSERT_FALSE(MadeDevices().empty());
    EXPECT_EQ(MadeDevices().back()->resets, std::vector<long>{-2});
    MadeDevices().back()->AddRef();
    EXPECT_EQ(MadeDevices().back()->Release(), 1u);
}

TEST_F(FactoryTest, TheFactoryIsInertOnWindowsMe) {
    SetSystemVersionSource([]() -> DWORD { return 0xC0005A04; });
    ComPtr<ZvFactory15> factory;
    ASSERT_TRUE(SUCCEEDED(tv::com::MakeComObject(factory, DeviceMaker(&MakeStandIn))));
    EXPECT_TRUE(factory->IsInactive());
    long cookie = 77;
    EXPECT_EQ(factory->Advise(nullptr, &cookie), S_OK);
    EXPECT_EQ(cookie, 77);
    EXPECT_EQ(factory->UnAdvise(5), S_OK);
    IZvDevice* untouched = reinterpret_cast<IZvDevice*>(1);
    EXPECT_EQ(factory->GetVirtualDevice(nullptr, &untouched), S_OK);
    EXPECT_EQ(untouched, reinterpret_cast<IZvDevice*>(1));
}

TEST_F(FactoryTest, TheMeFactoryScansAndReportsByStringId) {
    // Elsewhere the Windows Me factory stays inert: no window, no threads.
    {
        ComPtr<ZvFactory15Me> inert;
        ASSERT_TRUE(SUCCEEDED(tv::com::MakeComObject(inert, DeviceMaker(&MakeStandIn))));
        EXPECT_FALSE(inert->IsActive());
        EXPECT_EQ(inert->Window(), nullptr);
        long cookie = 5;
        EXPECT_EQ(inert->Advise(sink_.Get(), &cookie), S_OK);
        EXPECT_EQ(cookie, 5);
    }
    SetSystemVersionSource([]() -> DWORD { return 0xC0005A04; });
    ASSERT_EQ(WriteDeviceRegistration("@FAC0005", "Me device", false), S_OK);
    auto device = std::make_unique<test::PluggedDevice>(1, "FACTORY00005", "FAC0005");
    ASSERT_GE(device->Number(), 0);
    ComPtr<ZvFactory15Me> factory;
    ASSERT_TRUE(SUCCEEDED(tv::com::MakeComObject(factory, DeviceMaker(&MakeStandIn))));
    ASSERT_TRUE(factory->IsActive());
    long cookie = -1;
    ASSERT_EQ(factory->Advise(sink_.Get(), &cookie), S_OK);
    // Found by the first scanning period after start-up.
    ASSERT_TRUE(tv::test::PollUntil([&] { return Found(*sink_.Get(), kClsidZvFactory15Me, "@FAC0005"); }, 20000));
    EXPECT_EQ(MadeDevices().back()->name, "Me device");

    // Suspended, the watcher does not notice the removal; resumed, it reports the string id.
    SendMessageW(factory->Window(), ZvFactory15Me::kSuspendMessage, 0, 0);
    Pump(1500);
    device.reset();
    Pump(4000);
    EXPECT_TRUE(sink_->lost.empty());
    SendMessageW(factory->Window(), ZvFactory15Me::kResumeMessage, 0, 0);
    // A notification opens a new scanning period (this one by hand, as the removal's may
    // already have passed).
    SendMessageW(factory->Window(), WM_DEVICECHANGE, 0x0007, 0);
    ASSERT_TRUE(tv::test::PollUntil([&] { return !sink_->lost.empty(); }, 25000));
    EXPECT_TRUE(IsEqualGUID(sink_->lost[0].factory, kClsidZvFactory15Me));
    EXPECT_EQ(sink_->lost[0].text, "@FAC0005");
    EXPECT_EQ(factory->DeviceCount(), 0u);
    // Released during an open scanning period: the threads end and are joined.
    SendMessageW(factory->Window(), WM_DEVICECHANGE, 0x0007, 0);
    const DWORD start = GetTickCount();
    factory.Reset();
    EXPECT_LT(GetTickCount() - start, 3000u);
}

} // namespace
} // namespace devlink15
