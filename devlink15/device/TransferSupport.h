// Pieces shared by the device object's transfers: error texts into the caller's buffer, the
// progress sink advised on the port for the length of one transfer, paths and cancel tests.
#pragma once

#include "Handles.h"
#include "IZvPort15.h"
#include "ZvDevice.h"

#include <string>
#include <vector>

namespace devlink15::transfer {

// Result code of an operation together with the language-library text it leaves for the caller.
struct Outcome {
    long code;
    std::string text;
};

// Writes the outcome's text into the caller's buffer (cut to nMaxLen - 1 characters) and
// returns its code. A null buffer or a non-positive length takes no text.
HRESULT Report(const Outcome& outcome, long nMaxLen, unsigned char* buffer);
// The language-library text; with one "%s" replaced by `argument` when it holds one.
std::string Text(UINT id, const std::string& argument = {});

// The callback's IUnknown advised on the port; the advise is withdrawn when the object goes.
class AdvisedSink {
  public:
    explicit AdvisedSink(IZvPort15* port) : port_(port) {}
    ~AdvisedSink();
    AdvisedSink(const AdvisedSink&) = delete;
    AdvisedSink& operator=(const AdvisedSink&) = delete;

    // 0, or 4 when the callback does not answer IUnknown, 20 when the port refuses it.
    long Start(IZvFileOperationCallback* callback);

  private:
    IZvPort15* port_;
    IUnknown* sink_ = nullptr;
    long cookie_ = -1;
};

// A new BSTR of an ANSI text (the port takes wide strings).
tv::com::UniqueBstr Wide(const std::string& text);

// The text before the last `separator`; false when there is none.
bool BeforeLast(const std::string& text, char separator, std::string& head);
std::string AfterLast(const std::string& text, char separator);
std::string WithoutLeadingSlash(const std::string& path);

// Hands the device's current cancel reference to the port.
void HandCancelToPort(IZvPort15* port, HANDLE* cancelReference);
// Whether the hub's cancel event is set (tested without waiting).
bool CancelRequested(HANDLE* cancelReference);

// Size of a PC file opened for reading without sharing; false when it cannot be opened.
bool ReadPcFileSize(const std::string& path, unsigned long long& size);

// Folders first, shallowest first (by the number of "/"); equal depths keep listing order.
void SortByDepth(std::vector<std::string>& paths);

inline constexpr long kResultCancelled = 12;
inline constexpr HRESULT kTransferCancelled = E_PENDING; // 0x8000000A from the port

} // namespace devlink15::transfer
