// The DDE service through which the shell opens files of the suite's types: the associations
// register the execute command [FileOpen("<path>")] for service and topic texts 12272/12273.
#pragma once
#include <windows.h>
#include <ddeml.h>
#include <string>

namespace tv::app {

class DdeService {
public:
    DdeService() = default;
    DdeService(const DdeService&) = delete;
    DdeService& operator=(const DdeService&) = delete;
    ~DdeService() { Stop(); }

    // Registers the service name on the calling thread, whose messages then carry the requests.
    bool Start();
    void Stop();

private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ service,
                                      HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA Execute(HSZ topic, HSZ service, HDDEDATA data);
    std::string Text(HSZ handle) const;

    DWORD instance_ = 0;
    HSZ serviceName_ = nullptr;
    std::string service_;
    std::string topic_;
};

} // namespace tv::app
