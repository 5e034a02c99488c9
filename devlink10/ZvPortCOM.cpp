#include "ZvPortCOM.h"
#include "AnsiText.h"
#include "Handles.h"
#include "PortTexts.h"
#include "TaggedText.h"
#include <cstdio>

using namespace zvport;
using tv::com::AnsiToBstr;
using tv::com::AnsiToUniqueBstr;
using tv::com::ComPtr;
using tv::com::ToAnsi;
using tv::com::UniqueBstr;

namespace devlink10 {

const CLSID kClsidZvPortCOM = {0xBA47E214, 0x661B, 0x4016, {0xB3, 0x4D, 0xDF, 0x16, 0x60, 0xDE, 0x9E, 0x36}};

namespace {

constexpr DWORD kDefaultBaudRate = 57600;
constexpr DWORD kWakeUpPauseMs = 500;
constexpr const char* kFileFields = "|str|str|\n|str|str|";

HRESULT ResultClassHResult(const PortRequestData& request) {
    return ZVPORT_E_RESULT(static_cast<int>(request.resultClass));
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// A request created through the port reports its progress to the port's sinks.
class SinkReportingRequest : public PortRequest {
public:
    SinkReportingRequest(RequestKind kind, ZvPortCOM& port) : PortRequest(kind), port_(port) {}
    void ReportProgress() override { port_.NotifySinks(*this); }

private:
    ZvPortCOM& port_;
};

bool CanOpenExclusively(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "com%d", number);
    COMMCONFIG config{};
    DWORD size = sizeof config;
    config.dwSize = sizeof config;
    if (!::GetDefaultCommConfigA(name, &config, &size))
        return false;
    std::snprintf(name, sizeof name, "\\\\.\\com%d", number);
    tv::com::UniqueFileHandle port(
        ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    return static_cast<bool>(port);
}

// The transfer a request's tag names; Undefined for any other tag.
RequestKind FileRequestKind(std::string_view tag) {
    return tag == "RequestReceive" ? RequestKind::ReceiveFile
           : tag == "RequestSend"  ? RequestKind::SendFile
           : tag == "RequestBoot"  ? RequestKind::Boot
                                   : RequestKind::Undefined;
}

} // namespace

ZvPortCOM::~ZvPortCOM() { engine_.Close(); }

RequestPtr ZvPortCOM::MakeRequest(RequestKind kind) {
    try {
        return std::make_shared<SinkReportingRequest>(kind, *this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HRESULT ZvPortCOM::RunSync(const RequestPtr& request) {
    return engine_.Wait(request) ? S_OK : ResultClassHResult(*request);
}

void ZvPortCOM::NotifySinks(const PortRequestData& request) {
    for (size_t cookie = 0; cookie < sinks_.size(); ++cookie) {
        if (!sinks_[cookie])
            continue;
        ComPtr<IZvPortUpdateEvent> sink;
        if (request.kind == RequestKind::Boot) {
            if (FAILED(sinks_[cookie]->QueryInterface(IID_IZvPortUpdateEvent, reinterpret_cast<void**>(&sink))))
                continue;
        } else {
            sink = sinks_[cookie];
        }
        UniqueBstr message = AnsiToUniqueBstr(FormatUpdateMessage(static_cast<long>(cookie), request));
        UniqueBstr reply;
        sink->OnUpdate(message.Get(), reply.Put());
        if (reply && ToAnsi(reply.Get()) == "Cancel") {
            if (auto running = engine_.RunningRequest())
                engine_.Cancel(running);
        }
    }
}

STDMETHODIMP ZvPortCOM::RequestSync(BSTR strCommand, BSTR* pstrResponce) {
    if (!pstrResponce)
        return E_INVALIDARG;
    std::string command = ToAnsi(strCommand);
    auto tag = ParseTag(command);
    if (!tag)
        return E_INVALIDARG;

    if (*tag == "Command" || *tag == "GetID") {
        std::string text = "id";
        if (*tag == "Command") {
            ParsedFields fields;
            if (ParseFields(command, "|str|", fields) != FieldParseResult::Ok)
                return E_INVALIDARG;
            text = fields.strings[0];
        }
        auto request = MakeRequest(RequestKind::Console);
        if (!request)
            return E_INVALIDARG;
        request->command = text;
        HRESULT hr = RunSync(request);
        if (*tag == "Command") {
            if (FAILED(hr))
                return hr;
            return AnsiToBstr(request->response, pstrResponce);
        }
        if (FAILED(hr))
            return E_UNEXPECTED;
        size_t at = request->response.find('@');
        if (at == std::string::npos)
            return E_FAIL;
        return AnsiToBstr(request->response.substr(at, 8), pstrResponce);
    }

    const RequestKind kind = FileRequestKind(*tag);
    if (kind == RequestKind::Undefined)
        return E_INVALIDARG;
    ParsedFields fields;
    if (ParseFields(command, kFileFields, fields) != FieldParseResult::Ok)
        return E_INVALIDARG;
    const auto& f = fields.strings;
    auto request = MakeRequest(kind);
    if (!request)
        return E_INVALIDARG;
    std::string deviceName = kind == RequestKind::ReceiveFile ? f[0] + f[1] : f[2] + f[3];
    if (!IsSafeDeviceName(deviceName))
        return E_INVALIDARG;
    if (kind == RequestKind::ReceiveFile) {
        request->firstName = Quoted(deviceName);
        request->secondName = f[2] + f[3];
    } else {
        request->firstName = f[0] + f[1];
        request->secondName = kind == RequestKind::SendFile ? Quoted(deviceName) : deviceName;
    }
    return RunSync(request);
}

STDMETHODIMP ZvPortCOM::RequestAsync(BSTR strCommand, BSTR* pstrResponse) {
    if (!pstrResponse)
        return E_INVALIDARG;
    std::string command = ToAnsi(strCommand);
    auto tag = ParseTag(command);
    if (!tag)
        return E_INVALIDARG;
    if (*tag == "RequestCommand") {
        ParsedFields fields;
        if (ParseFields(command, "|str|", fields) != FieldParseResult::Ok)
            return E_INVALIDARG;
        auto request = MakeRequest(RequestKind::Console);
        if (!request)
            return E_INVALIDARG;
        request->command = fields.strings[0];
        engine_.Submit(request);
        lastAsyncResponse_.clear();
        return S_OK;
    }
    const RequestKind kind = FileRequestKind(*tag);
    if (kind == RequestKind::Undefined)
        return E_INVALIDARG;
    ParsedFields fields;
    if (ParseFields(command, kFileFields, fields) != FieldParseResult::Ok)
        return E_INVALIDARG;
    const auto& f = fields.strings;
    std::string deviceName = kind == RequestKind::ReceiveFile ? f[0] + f[1] : f[2] + f[3];
    if (!IsSafeDeviceName(deviceName))
        return E_INVALIDARG;
    if (kind == RequestKind::ReceiveFile) {
        auto pcOn = MakeRequest(RequestKind::Console);
        if (!pcOn)
            return E_INVALIDARG;
        pcOn->command = "pc on";
        if (HRESULT hr = RunSync(pcOn); FAILED(hr))
            return hr;
        if (pcOn->response.find("pc mode on") == std::string::npos)
            return E_FAIL;
    }
    auto request = MakeRequest(kind);
    if (!request)
        return E_INVALIDARG;
    if (kind == RequestKind::ReceiveFile) {
        request->firstName = deviceName;
        request->secondName = f[2] + f[3];
    } else {
        request->firstName = f[0] + f[1];
        request->secondName = deviceName;
    }
    // The engine holds the request until its final report; nothing else waits for it.
    engine_.Submit(request);
    return S_OK;
}

STDMETHODIMP ZvPortCOM::Advise(IUnknown* piUpdateEvent, long* pdwCookie) {
    if (!piUpdateEvent || !pdwCookie)
        return E_INVALIDARG;
    ComPtr<IZvPortUpdateEvent> sink;
    if (FAILED(piUpdateEvent->QueryInterface(IID_IZvPortUpdateEvent, reinterpret_cast<void**>(&sink))))
        return E_INVALIDARG;
    try {
        sinks_.push_back(sink);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *pdwCookie = static_cast<long>(sinks_.size() - 1);
    return S_OK;
}

STDMETHODIMP ZvPortCOM::UnAdvise(long dwCookie) {
    if (dwCookie < 0 || static_cast<size_t>(dwCookie) >= sinks_.size() || !sinks_[dwCookie])
        return E_INVALIDARG;
    sinks_[dwCookie] = nullptr;
    while (!sinks_.empty() && !sinks_.back())
        sinks_.pop_back();
    return S_OK;
}

STDMETHODIMP ZvPortCOM::Connect(BSTR strInput, BSTR* pstrOutput) {
    std::string input = ToAnsi(strInput);
    auto portField = FieldAfter(input, "<Connect>");
    if (!portField)
        return E_INVALIDARG;
    DWORD baud = kDefaultBaudRate;
    if (input.find("<BaudRate>") != std::string::npos) {
        auto baudField = FieldAfter(input, "<BaudRate>");
        if (!baudField)
            return E_INVALIDARG;
        baud = static_cast<DWORD>(ParseFieldInt(*baudField));
    }
    engine_.Open(ParseFieldInt(*portField), baud);

    auto wake = MakeRequest(RequestKind::Console);
    auto hello = MakeRequest(RequestKind::Console);
    if (!wake || !hello)
        return E_INVALIDARG;
    wake->command = "58204617\n";
    ::ResetEvent(connectCancel_.Get());
    engine_.Wait(wake);
    // A cancel during the wake-up or its pause ends the connection attempt there: a port without
    // a device is then given up at once instead of after the hello's wait.
    if (wake->resultClass == ResultClass::Cancelled ||
        ::WaitForSingleObject(connectCancel_.Get(), kWakeUpPauseMs) != WAIT_TIMEOUT)
        return ZVPORT_E_RESULT(static_cast<int>(ResultClass::Cancelled));
    hello->command = "3\n";
    if (HRESULT hr = RunSync(hello); FAILED(hr))
        return hr;
    if (pstrOutput)
        AnsiToBstr("Everithing is ok", pstrOutput);
    return S_OK;
}

STDMETHODIMP ZvPortCOM::Disconnect(BSTR* pstrOutput) {
    engine_.Close();
    if (pstrOutput)
        AnsiToBstr("Device detached", pstrOutput);
    return S_OK;
}

STDMETHODIMP ZvPortCOM::GetInfo(BSTR* pstrOutput) {
    auto running = engine_.RunningRequest();
    if (!running || !pstrOutput)
        return E_INVALIDARG;
    int freePort = 0;
    for (int number = 0; number <= 5; ++number) {
        if (number != engine_.PortNumber() && CanOpenExclusively(number)) {
            freePort = number;
            break;
        }
    }
    return AnsiToBstr(FormatInfo(engine_.PortNumber(), freePort, static_cast<int>(running->kind), timeoutMs_,
                                 engine_.ReceiveQueueSize()),
                      pstrOutput);
}

STDMETHODIMP ZvPortCOM::SetParam(BSTR pstrInput) {
    std::string input = ToAnsi(pstrInput);
    auto tag = ParseTag(input);
    if (!tag || *tag != "SetTimeOut")
        return E_INVALIDARG;
    ParsedFields fields;
    if (ParseFields(input, "|int|", fields) != FieldParseResult::Ok)
        return E_INVALIDARG;
    timeoutMs_ = fields.ints[0];
    engine_.SetWaitLimit(timeoutMs_ > 0 ? static_cast<DWORD>(timeoutMs_) : 0);
    return S_OK;
}

STDMETHODIMP ZvPortCOM::Cancel(BSTR, BSTR* pstrOutput) {
    if (!pstrOutput)
        return E_INVALIDARG;
    ::SetEvent(connectCancel_.Get());
    auto running = engine_.RunningRequest();
    if (!running)
        return E_FAIL;
    engine_.Cancel(running);
    return S_OK;
}

} // namespace devlink10
