#include "McpLink.h"

namespace devlink15 {

XMCPLink::XMCPLink(McpPlatform& platform)
    : platform_(platform), timerResolution_(platform.HoldFineTimerResolution()),
      usb_(platform.CreateUsbLink()), demux_(std::make_unique<XMCPDemux>(usb_.get())),
      factory_(std::make_unique<XMCPPipeFactory>(this)) {
    // Sending never waits for the device to have spoken first.
    demux_->SetWatchdog(false);
    demux_->MarkPeerAlive();
}

XMCPLink::~XMCPLink() {
    claim_.reset();
    timerResolution_.reset();
    // Pipes still open tell the device they are closing while the link is up.
    factory_.reset();
    DisconnectMcpLink();
    demux_.reset();
    usb_.reset();
}

bool XMCPLink::ConnectMcpLink(int deviceNumber) {
    std::lock_guard lock(connectMutex_);
    UsbDeviceInfo info;
    if (!usb_ || !platform_.QueryUsbDeviceInfo(deviceNumber, info))
        return false;
    if (connected_)
        return true;
    claim_ = platform_.ClaimDevice(info.shortId);
    if (!claim_)
        return false; // the device belongs to another port
    demux_->ResetReceiver();
    if (!usb_->OpenUsbDevice(deviceNumber)) {
        usb_->CloseUsbDevice();
        claim_.reset();
        return false;
    }
    if (!usb_->StartReadThread(*demux_, kReceiveBufferSize)) {
        usb_->Stop();
        usb_->CloseUsbDevice();
        claim_.reset();
        return false;
    }
    connected_ = true;
    return true;
}

bool XMCPLink::DisconnectMcpLink() {
    std::lock_guard lock(connectMutex_);
    claim_.reset();
    if (!connected_)
        return true;
    connected_ = false;
    usb_->Stop();
    usb_->CloseUsbDevice();
    demux_->WakeAllChannels();
    return true;
}

} // namespace devlink15
