// ZvPort15: one device's connection as the device object sees it. It owns the MCP link, keeps the
// console pipe open, runs console commands whose replies come back on their own pipe, moves files
// on data pipes, reports transfer progress to advised callbacks, and runs two background threads:
// the console reader (which watches for the prompt) and the keep-alive.
#pragma once

#include "ComObject.h"
#include "Handles.h"
#include "McpLink.h"
#include "ZvDevice.h"
#include "IZvPort15.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

namespace devlink15 {

class ZvPort15 : public tv::com::ComObject<ZvPort15, IZvPort15> {
  public:
    ZvPort15();
    ~ZvPort15() override;
    HRESULT FinalConstruct();

    STDMETHODIMP Import(BSTR strSourceName, BSTR strDestinationName, BSTR* pstrResponce,
                        BSTR strAdditional) override;
    STDMETHODIMP Export(BSTR strSourceName, BSTR strDestinationName, BSTR* pstrResponse,
                        BSTR strAdditional) override;
    STDMETHODIMP Advise(IUnknown* piUpdateEvent, long* pdwCookie) override;
    STDMETHODIMP UnAdvise(long dwCookie) override;
    STDMETHODIMP Copy(BSTR strSource, BSTR strDestination, BSTR* strResponce) override;
    STDMETHODIMP Command(BSTR strCommand, BSTR* strResponce) override;
    STDMETHODIMP Connect(long nPort) override;
    STDMETHODIMP Disconnect(BSTR* pstrOutput) override;
    STDMETHODIMP GetInfo(BSTR* pstrOutput) override;
    STDMETHODIMP SetParam(BSTR pstrInput) override;
    STDMETHODIMP Cancel(LONG_PTR ptrDie) override;
    STDMETHODIMP SetChannels(int nConsoleIn, int nConsoleOut, int nDataIn, int nDataOut,
                             BSTR* strOut) override;
    STDMETHODIMP GetDeviceState(long nPort) override;

    // Manual reset, created signalled; set by the console reader whenever the console shows
    // "Ready >". Each port has its own, so two devices never answer for each other.
    HANDLE PromptEvent() const { return promptEvent_.Get(); }
    int DeviceNumber() const { return deviceNumber_; }

  private:
    // The console lock: every use of the console pipes, the link or its pipe factory.
    using ConsoleLock = std::lock_guard<std::mutex>;
    // Connection and disconnection take every lock of the port.
    using AllLocks = std::scoped_lock<std::mutex, std::mutex, std::mutex, std::mutex>;
    AllLocks LockAll() { return AllLocks(consoleMutex_, connectMutex_, keepAliveMutex_, readerMutex_); }

    bool HasConsoleOutput();
    // Opens a reply or data pipe under the console lock; null without a link or when it cannot be opened.
    PipeRecord* OpenPortPipe(const char* name, int number, uint32_t timeoutMs);
    void ClosePortPipe(PipeRecord* pipe);
    // Writes the line and its zero byte on the console, waits, then flushes. A failed flush
    // discards what was buffered and resets the console output, so that nothing stale runs later.
    bool SendConsoleLine(const std::string& line, DWORD pauseBeforeFlushMs);
    // Collects the reply pieces until the device closes the pipe; fails when the device goes
    // away or after more than 10 empty reads.
    HRESULT CollectReply(PipeRecord* reply, std::string& text);
    bool DeviceIsGone();
    bool CancelRequested();
    void ReportInit(const std::string& text, long size);
    void ReportProgress(const std::string& text, long bytes);

    void DisconnectNow();
    void ForgetConsoleLocked();
    void JoinDisconnectThread();
    void ConsoleReaderProc();
    void KeepAliveProc();
    bool KeepAliveDeviceStillThere();
    bool WaitForStop(DWORD milliseconds);

    // Held shared by every operation that uses pipes, and exclusively by the disconnection
    // before it destroys the link: no operation is left holding a pipe of a destroyed link.
    std::shared_mutex operationMutex_;
    std::mutex consoleMutex_;
    std::mutex connectMutex_;
    std::mutex keepAliveMutex_;
    std::mutex readerMutex_;

    std::unique_ptr<XMCPLink> link_;
    PipeRecord* console_ = nullptr;
    IInputPipe* consoleIn_ = nullptr;
    IOutputPipe* consoleOut_ = nullptr;

    std::vector<tv::com::ComPtr<IZvFileOperationCallback>> callbacks_;
    std::atomic<HANDLE*> cancelEvent_{nullptr};

    std::atomic<int> deviceNumber_{-1};
    std::string deviceId_;
    std::string shortId_;
    std::atomic<bool> running_{false};

    std::string consoleText_; // the console reader's own
    tv::com::UniqueHandle promptEvent_;
    tv::com::UniqueHandle stopEvent_; // set when the port disconnects; ends the background waits
    tv::com::UniqueHandle disconnectDone_;

    std::thread reader_;
    std::thread keepAlive_;
    std::mutex disconnectThreadMutex_;
    std::thread disconnectThread_;
};

} // namespace devlink15
