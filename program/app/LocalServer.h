// The hub's class object as this program serves it to other processes, and the monitor that
// notices when the last object and lock of the program are gone.
#pragma once
#include "ClassFactory.h"
#include "Handles.h"
#include "Hub.h"
#include <thread>

namespace tv::app {

using HubClassFactory = com::SingletonClassFactory<hub::Hub, com::NoModuleLock>;

class ClassObjectRegistration {
public:
    explicit ClassObjectRegistration(IClassFactory* factory) : factory_(factory) {}
    ClassObjectRegistration(const ClassObjectRegistration&) = delete;
    ClassObjectRegistration& operator=(const ClassObjectRegistration&) = delete;
    ~ClassObjectRegistration() { Revoke(); }

    // Registers suspended as multiple-use, then resumes every class object of the process.
    HRESULT Register();
    void Revoke();

private:
    IClassFactory* factory_;
    DWORD cookie_ = 0;
};

// Waits for the module's lock count to drop to zero; after an idle time without activity it
// suspends the class objects and posts a quit message to the main thread.
class ShutdownMonitor {
public:
    ShutdownMonitor(DWORD mainThreadId, DWORD idleMs) : mainThreadId_(mainThreadId), idleMs_(idleMs) {}
    ShutdownMonitor(const ShutdownMonitor&) = delete;
    ShutdownMonitor& operator=(const ShutdownMonitor&) = delete;
    ~ShutdownMonitor() { Stop(); }

    bool Start();
    void Stop();

private:
    static void OnLastRelease();
    void Run();

    DWORD mainThreadId_;
    DWORD idleMs_;
    com::UniqueHandle activity_;
    com::UniqueHandle stop_;
    std::thread thread_;
};

} // namespace tv::app
