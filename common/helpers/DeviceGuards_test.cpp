#include "ComObject.h"
#include "AnsiText.h"
#include "DeviceGuards.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

using namespace tv::com;

namespace {

// A hub whose device answers console commands from a table and which keeps the busy flag.
class FakeHub : public ComObject<FakeHub, IZelvanMgr> {
public:
    std::vector<std::string> commands;
    std::string pcOnReply = "pc mode on\r\nReady >";
    std::string pcOffReply = "pc mode off\r\nReady >";
    HRESULT commandResult = S_OK;
    long busy = 0;

    STDMETHODIMP Command(LPSTR device, LPSTR command, LONG* length, LPSTR* response) override {
        commands.push_back(std::string(device) + ":" + command);
        if (FAILED(commandResult))
            return commandResult;
        const std::string& reply = std::strcmp(command, "pc on") == 0 ? pcOnReply : pcOffReply;
        *response = tv::com::TaskTextCopy(reply);
        *length = static_cast<LONG>(reply.size());
        return S_OK;
    }
    STDMETHODIMP put_BusyUI(LONG value) override {
        busy = value;
        return S_OK;
    }
    STDMETHODIMP get_BusyUI(LONG* value) override {
        *value = busy;
        return S_OK;
    }

    STDMETHODIMP CancelFileOperation(LPSTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFileItems(LPSTR, LONG, IZvEnumFileItems**) override { return E_NOTIMPL; }
    STDMETHODIMP RenameFileItem(LPSTR, LPSTR, LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateFolder(LPSTR) override { return E_NOTIMPL; }
    STDMETHODIMP CopyFileItems(LONG, LONG, LPSTR*, LPSTR*, IZvFileOperationCallback*) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteFileItems(LONG, LONG, LPSTR*, IZvFileOperationCallback*) override { return E_NOTIMPL; }
    STDMETHODIMP InitDeviceFactories() override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceIDByName(LPSTR, LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceNameByID(LPSTR, LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceDescription(LPSTR, LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceVersion(LPSTR, LONG*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP BrowseForFolder(LPSTR, LPSTR, LONG, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP DisplayProperties(LPSTR, ZVFILEITEM*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemsInfo(LONG, LONG, LPSTR*, IZvItemsInfoCallback*) override { return E_NOTIMPL; }
    STDMETHODIMP GetVolumeInfo(LPSTR, VOLUMEINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAllItems(LPSTR, IZvEnumFileItems**) override { return E_NOTIMPL; }
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP FindItems(LPSTR, IZvEnumFileItems**) override { return E_NOTIMPL; }
    STDMETHODIMP SetItemAttributes(ZVFILEITEM) override { return E_NOTIMPL; }
    STDMETHODIMP GetDeviceInfo(LPSTR, IZvFileOperationCallback*) override { return E_NOTIMPL; }
    STDMETHODIMP put_EnableUI(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_EnableUI(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AutoPC_ON_PC_OFF_Mode(LPSTR, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_AutoPC_ON_PC_OFF_Mode(LPSTR, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP ProcessFileOpen(LPSTR) override { return E_NOTIMPL; }
};

ComPtr<FakeHub> MakeHub() {
    ComPtr<FakeHub> hub;
    EXPECT_EQ(S_OK, MakeComObject(hub));
    return hub;
}

} // namespace

TEST(SendPcModeCommand, WantsTheConfirmationAnywhereInTheReply) {
    auto hub = MakeHub();
    EXPECT_EQ(S_OK, tv::SendPcModeCommand("Dev", hub.Get(), true));
    EXPECT_EQ(S_OK, tv::SendPcModeCommand("Dev", hub.Get(), false));
    hub->pcOnReply = "Ready >";
    EXPECT_EQ(E_FAIL, tv::SendPcModeCommand("Dev", hub.Get(), true));
    hub->commandResult = E_INVALIDARG;
    EXPECT_EQ(E_INVALIDARG, tv::SendPcModeCommand("Dev", hub.Get(), true));
    EXPECT_EQ((std::vector<std::string>{"Dev:pc on", "Dev:pc off", "Dev:pc on", "Dev:pc on"}), hub->commands);
}

TEST(PcModeGuard, SwitchesOffAtTheEndOnlyAfterAConfirmedOn) {
    auto hub = MakeHub();
    {
        tv::PcModeGuard guard(hub.Get(), "@ABC1234");
        EXPECT_EQ(S_OK, guard.Result());
    }
    EXPECT_EQ((std::vector<std::string>{"@ABC1234:pc on", "@ABC1234:pc off"}), hub->commands);

    hub->commands.clear();
    hub->pcOnReply = "unknown command";
    {
        tv::PcModeGuard guard(hub.Get(), "Dev");
        EXPECT_EQ(E_FAIL, guard.Result());
    }
    EXPECT_EQ((std::vector<std::string>{"Dev:pc on"}), hub->commands) << "no pc off without a confirmed pc on";
}

TEST(BusyGuard, MarksTheHubBusyForItsScopeOnly) {
    auto hub = MakeHub();
    {
        tv::BusyGuard guard(hub->AsUnknown());
        EXPECT_EQ(S_OK, guard.Result());
        EXPECT_EQ(1, hub->busy);
    }
    EXPECT_EQ(0, hub->busy);

    tv::BusyGuard guard(hub->AsUnknown());
    EXPECT_EQ(S_OK, guard.End());
    EXPECT_EQ(0, hub->busy);
    EXPECT_EQ(E_FAIL, guard.End()) << "a second End changes nothing";
}

TEST(BusyGuard, LeavesAnAlreadyBusyHubBusy) {
    auto hub = MakeHub();
    hub->busy = 1;
    {
        tv::BusyGuard guard(hub->AsUnknown());
        EXPECT_EQ(E_FAIL, guard.Result());
    }
    EXPECT_EQ(1, hub->busy);
}
