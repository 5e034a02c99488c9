// What a device factory of this generation needs of one device object: its identity, its port
// and its IZvDevice face. The factory makes one per connected device through a DeviceMaker, so
// that the detection roads can be exercised without the real device object too.
#pragma once

#include "ZvDevice.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace devlink15 {

class FactoryDevice {
  public:
    virtual ~FactoryDevice() = default;

    virtual void SetStrId(const std::string& id) = 0;
    virtual void SetName(const std::string& name) = 0;
    // Connects the object's port on that device number.
    virtual HRESULT ConnectPort(int deviceNumber) = 0;
    // One console command through the object's port (the reply pipe is named in the text).
    virtual HRESULT PortCommand(const std::string& command, std::string& reply) = 0;
    // Disconnects the port without waiting.
    virtual void DisconnectPort() = 0;
    // Manual-reset event that the port's console reader sets when the device shows its prompt.
    virtual HANDLE PromptEvent() = 0;
    // The object's IZvDevice face, with a new reference.
    virtual HRESULT QueryDevice(IZvDevice** device) = 0;
};

using DeviceMaker = std::function<HRESULT(std::unique_ptr<FactoryDevice>& device)>;

// Makes a ZvDevice15 (Zv15FactoryDevice.cpp).
HRESULT MakeZvDevice15(std::unique_ptr<FactoryDevice>& device);

} // namespace devlink15
