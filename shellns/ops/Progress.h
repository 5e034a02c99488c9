// The modal progress windows of copies and deletions and the sinks that receive the hub's
// callbacks: the file-operation callback forwards to the window's state, the items-info sink
// collects the totals a copy is sized by.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "ZelvanMgr.h"
#include <memory>
#include <set>
#include <string>

namespace tv::shellns {

enum class ProgressKind { Copy, Delete };

// What the window shows and what the operation learns from it; shared by the callback (which
// may outlive the window) and the window.
struct ProgressState {
    ProgressKind kind = ProgressKind::Copy;
    std::string deviceName;          // for the hub's cancel
    std::set<std::string> sources;   // the operation's own items, for per-item results
    unsigned long long total = 0;    // bytes (copy) or steps (delete)
    long steps = 1;
    unsigned long long finished = 0;
    long currentSize = 0;
    HWND window = nullptr;
    bool complete = false;
    bool cancelled = false;
    std::string errors;
    std::set<std::string> succeeded;  // sources whose completion carried no error
    DWORD openedAt = 0;
    // The hub the operation runs on (this thread's pointer): the cancel goes there, and its
    // answer tells whether the program is still there to report the end.
    com::ComPtr<IZelvanMgr> hub;
    bool hubLost = false; // the program stopped answering before the end came
    bool probing = false;
    SIZE fullSize{}; // the window with its error text and Close shown
};

class ZvNSCopyCallback : public com::ComObject<ZvNSCopyCallback, IZvFileOperationCallback> {
public:
    explicit ZvNSCopyCallback(std::shared_ptr<ProgressState> state) : state_(std::move(state)) {}
    STDMETHODIMP OnOperationComplete() override;
    STDMETHODIMP OnItemComplete(LPSTR strItem, LPSTR strErrorDescription, LONG nErrorCode) override;
    STDMETHODIMP OnItemInit(LPSTR strItem, LONG nSize) override;
    STDMETHODIMP OnItemProgress(LPSTR strItem, LONG nProgress) override;
    STDMETHODIMP OnItemInfo(LPSTR strInfo) override;

private:
    std::shared_ptr<ProgressState> state_;
};

class ItemsInfoSink : public com::ComObject<ItemsInfoSink, IZvItemsInfoCallback> {
public:
    ItemsInfoSink();
    STDMETHODIMP OnOperationStart() override { return S_OK; }
    STDMETHODIMP OnOperationProgress(ITEMSINFO info) override;
    STDMETHODIMP OnOperationComplete(LPSTR strErrorDescription) override;

    // Pumps messages until the query ends (bounded; a quit message ends it at once); false when
    // it did not end, or ended with an error text.
    bool Wait(DWORD timeoutMs);
    const ITEMSINFO& Totals() const { return totals_; }

private:
    com::UniqueHandle done_;
    ITEMSINFO totals_{};
    bool failed_ = false;
};

// Shows the modal progress window until the operation completes and the user closes it, or the
// user cancels, or the program that runs the operation stops answering; true unless cancelled or
// ended without its result.
bool RunProgressDialog(const std::shared_ptr<ProgressState>& state);

// How often the window asks whether the program is still there, and how long after a cancel the
// program refused it waits for the end before it gives up.
inline constexpr UINT kHubProbeMs = 2000;
inline constexpr UINT kRefusedCancelGraceMs = 5000;

// The information text: the first word, then the rest shortened to fit 45 characters.
std::string ShortenInfo(const std::string& text);

// How long an items query may take before the operation fails.
inline constexpr DWORD kItemsInfoTimeoutMs = 120000;

} // namespace tv::shellns
