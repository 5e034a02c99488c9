#include "ZvCAPCopier.h"
#include "AnsiText.h"
#include "DeviceGuards.h"
#include "Handles.h"
#include "HResult.h"
#include "InstallerCommon.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "PcSafeName.h"
#include "PrintfText.h"
#include <commctrl.h>
#include <algorithm>
#include <vector>

namespace tv::caplinker {
namespace {

constexpr LONG kBrowsePathLength = 260;
constexpr UINT_PTR kDrawTimer = 1;
// A new position costs a progress bar a paint of its own while the hub's worker waits for the
// callback, about as long as copying a small file: ten drawings a second show the copy well enough.
constexpr DWORD kDrawIntervalMs = 100;

} // namespace

ZvCAPCopier::~ZvCAPCopier() {
    if (stager_ && copyRunning_)
        stager_->LeaveFiles();
    CoTaskMemFree(iconBits_);
    CoTaskMemFree(iconHeader_);
}

void* ZvCAPCopier::QueryOtherInterface(REFIID riid) {
    return IsEqualIID(riid, IID_IDispatch) ? static_cast<IZvCAPCopier*>(this) : nullptr;
}

STDMETHODIMP ZvCAPCopier::AddFile(BSTR strArg, BSTR strLocPath) {
    files_.push_back(CopyFile{com::ToAnsi(strArg), com::ToAnsi(strLocPath), std::nullopt});
    return S_OK;
}

void ZvCAPCopier::AddStagedFile(std::string deviceName) {
    files_.push_back(CopyFile{std::move(deviceName), {}, stagedFiles_++});
}

STDMETHODIMP ZvCAPCopier::put_Icon(BSTR strPath) {
    com::UniqueFileHandle file(CreateFileW(strPath ? strPath : L"", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return E_INVALIDARG;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 16 * 1024 * 1024)
        return E_FAIL;
    std::vector<uint8_t> image;
    try {
        image.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    DWORD read = 0;
    if (!image.empty() &&
        (!ReadFile(file.Get(), image.data(), static_cast<DWORD>(image.size()), &read, nullptr) ||
         read != image.size()))
        return E_FAIL;
    return assoc::ConvertDeviceImage(image.data(), image.size(), &iconBits_, &iconHeader_) ? S_OK : S_FALSE;
}

STDMETHODIMP ZvCAPCopier::put_ZelvanFolder(BSTR strFolder) {
    folder_ = com::ToAnsi(strFolder);
    return S_OK;
}

HRESULT ZvCAPCopier::ChooseDestination(IZelvanMgr* hub, std::string& folder) {
    if (folder_ && !folder_->empty()) {
        folder = *folder_;
        return S_OK;
    }
    std::string title = LoadLanguageString(language_, IDS_INSTALL_BROWSE_TITLE);
    std::string text = LoadLanguageString(language_, IDS_INSTALL_BROWSE_TEXT);
    unsigned char chosen[kBrowsePathLength] = {};
    if (hub->BrowseForFolder(title.data(), text.data(), kBrowsePathLength, chosen) != S_OK)
        return S_FALSE;
    folder = reinterpret_cast<const char*>(chosen);
    if (folder.empty() || folder.find('\\') == std::string::npos) {
        MessageBoxA(nullptr, LoadLanguageString(language_, IDS_CAP_NO_DEVICE_FOLDER).c_str(), "",
                    MB_OK | MB_ICONERROR);
        return S_FALSE;
    }
    return S_OK;
}

STDMETHODIMP ZvCAPCopier::Run(LONG* pRes) {
    if (!pRes)
        return E_POINTER;
    *pRes = -1;
    if (files_.empty())
        return S_FALSE;
    if (!NamesStayInTheFolder())
        return E_INVALIDARG;
    // The hub's class object is registered by the program that loaded us, for the local server.
    if (FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_ALL, __uuidof(IZelvanMgr),
                                reinterpret_cast<void**>(hub_.ReleaseAndGetAddressOf()))))
        return E_FAIL;
    std::string folder;
    HRESULT hr = ChooseDestination(hub_.Get(), folder);
    if (hr == S_OK)
        hr = CopyWithProgress(folder);
    if (hr == S_OK)
        *pRes = 0;
    hub_.Reset();
    return hr;
}

// A file's name is a path below the destination folder. The package's files were PC files when
// it was made, so the name follows the PC's rule for a relative path: no "..", no start at the
// root, no drive or device.
bool ZvCAPCopier::NamesStayInTheFolder() const {
    for (const CopyFile& file : files_) {
        if (portable::IsPcSafeRelativePath(file.deviceName))
            continue;
        const std::string text =
            FormatPrintf(LoadLanguageString(language_, IDS_CAP_NAME_OUTSIDE_FOLDER), file.deviceName.c_str());
        MessageBoxA(nullptr, text.c_str(), LoadLanguageString(language_, IDS_INSTALL_CAPTION).c_str(),
                    MB_OK | MB_ICONERROR);
        return false;
    }
    return true;
}

HRESULT ZvCAPCopier::ListSources(std::vector<std::string>& sources) {
    for (const CopyFile& file : files_) {
        if (!file.staged) {
            sources.push_back(file.pcPath);
            continue;
        }
        if (!stager_)
            return E_UNEXPECTED;
        std::wstring path;
        TV_RETURN_IF_FAILED(stager_->WaitPath(*file.staged, path));
        sources.push_back(com::TerminatedToAnsi(path.c_str()));
    }
    return S_OK;
}

HRESULT ZvCAPCopier::AwaitSource(size_t index) {
    if (!stager_ || index >= files_.size() || !files_[index].staged || FAILED(sourceResult_))
        return sourceResult_;
    const HRESULT hr = stager_->WaitWritten(*files_[index].staged);
    if (FAILED(hr)) {
        sourceResult_ = hr;
        if (copyRunning_ && hub_)
            hub_->CancelFileOperation(device_.data());
    }
    return hr;
}

HRESULT ZvCAPCopier::CopyWithProgress(const std::string& folder) {
    const std::string separator = LoadLanguageString(language_, IDS_CAP_SEPARATOR);
    const size_t cut = separator.empty() ? std::string::npos : folder.find(separator);
    if (cut == std::string::npos)
        return E_FAIL;
    device_ = folder.substr(0, cut);

    BusyGuard busy(hub_.Get());
    PcModeGuard pcMode(hub_.Get(), device_.c_str());
    SetCopy(hub_.Get(), device_);
    ResetCopyState();
    itemsDone_ = 0;
    itemFailed_ = false;
    sourceResult_ = S_OK;
    wanted_ = drawn_ = ProgressView{};
    drawPending_ = false;
    lastDrawn_ = GetTickCount() - kDrawIntervalMs;
    // The window is the copy's callback and runs the loop that waits for its end: without it
    // nothing is copied, since the caller would go on (and delete the files) while the hub reads.
    HWND dialog = CreateCopyWindow(language_, IDD_CAP_COPY);
    if (!dialog) {
        SetCopy(nullptr, {});
        return E_FAIL;
    }
    SendDlgItemMessageW(dialog, IDC_CAP_OVERALL_PROGRESS, PBM_SETRANGE32, 0,
                        static_cast<LPARAM>(files_.size()));
    SendDlgItemMessageW(dialog, IDC_CAP_OVERALL_PROGRESS, PBM_SETPOS, 0, 0);
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
    // The lists are made once the window shows, the stager making the staged files' paths meanwhile.
    std::vector<std::string> sources, targets;
    HRESULT hr = ListSources(sources);
    size_t longest = 0;
    std::vector<LPSTR> sourceList, targetList;
    for (size_t i = 0; SUCCEEDED(hr) && i < files_.size(); ++i) {
        targets.push_back(folder + separator + files_[i].deviceName);
        longest = std::max({longest, sources[i].size(), targets[i].size()});
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < files_.size(); ++i) {
        sourceList.push_back(sources[i].data());
        targetList.push_back(targets[i].data());
    }
    if (SUCCEEDED(hr))
        hr = AwaitSource(0);
    if (SUCCEEDED(hr))
        hr = hub_->CopyFileItems(static_cast<LONG>(files_.size()), static_cast<LONG>(longest + 1),
                                 sourceList.data(), targetList.data(), this);
    // A loop ended by a quit meant for the thread cancelled the copy: not installed.
    if (hr == S_OK) {
        copyRunning_ = !CopyDone();
        if (CopyWindow()) {
            RunCopyLoop();
            if (CopyInterrupted())
                hr = E_ABORT;
        }
    }
    if (hr == S_OK && FAILED(sourceResult_))
        hr = sourceResult_;
    if (hr == S_OK && itemFailed_)
        hr = E_FAIL;
    DestroyCopyWindow();
    SetCopy(nullptr, {});
    // The staged files go once the hub no longer reads them: now, unless the copy still runs
    // after the wait for its end gave up; then when its end is reported.
    if (!copyRunning_)
        stager_.reset();
    return hr;
}

bool ZvCAPCopier::OnCopyWindowMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_TIMER || wParam != kDrawTimer)
        return false;
    DrawProgress();
    return true;
}

void ZvCAPCopier::OnCopyWindowMade(HWND dialog) {
    if (HasIcon())
        assoc::ShowPicture(dialog, IDC_INSTALL_PICTURE, assoc::CreateImageBitmap(iconHeader_, iconBits_));
}

void ZvCAPCopier::ShowProgress() {
    if (drawPending_ || wanted_ == drawn_)
        return;
    if (GetTickCount() - lastDrawn_ >= kDrawIntervalMs) {
        DrawProgress();
        return;
    }
    drawPending_ = SetTimer(CopyWindow(), kDrawTimer, kDrawIntervalMs, nullptr) != 0;
    if (!drawPending_)
        DrawProgress();
}

void ZvCAPCopier::DrawProgress() {
    HWND dialog = CopyWindow();
    if (drawPending_ && dialog)
        KillTimer(dialog, kDrawTimer);
    drawPending_ = false;
    if (!dialog)
        return;
    if (wanted_.status != drawn_.status)
        SetDlgItemTextA(dialog, IDC_CAP_STATUS, wanted_.status.c_str());
    const bool newRange = wanted_.itemRange != drawn_.itemRange;
    if (newRange)
        SendDlgItemMessageW(dialog, IDC_CAP_ITEM_PROGRESS, PBM_SETRANGE32, 0, wanted_.itemRange);
    if (newRange || wanted_.itemPosition != drawn_.itemPosition)
        SendDlgItemMessageW(dialog, IDC_CAP_ITEM_PROGRESS, PBM_SETPOS,
                            static_cast<WPARAM>(wanted_.itemPosition), 0);
    if (wanted_.filesDone != drawn_.filesDone)
        SendDlgItemMessageW(dialog, IDC_CAP_OVERALL_PROGRESS, PBM_SETPOS,
                            static_cast<WPARAM>(wanted_.filesDone), 0);
    drawn_ = wanted_;
    lastDrawn_ = GetTickCount();
}

STDMETHODIMP ZvCAPCopier::OnOperationComplete() {
    // The hub reads no more PC files, also when Run has given up waiting for this.
    copyRunning_ = false;
    if (!CopyWindow()) {
        stager_.reset();
        MarkCopyDone();
        return E_FAIL;
    }
    // A window that closes now is not drawn again; one that stays for its error shows where the
    // copy ended.
    if (ErrorShown())
        DrawProgress();
    else if (drawPending_)
        KillTimer(CopyWindow(), kDrawTimer);
    drawPending_ = false;
    MarkCopyDone();
    return hub_ ? hub_->Refresh() : S_OK;
}

STDMETHODIMP ZvCAPCopier::OnItemComplete(LPSTR, LPSTR strErrorDescription, LONG) {
    const bool failed = strErrorDescription && *strErrorDescription;
    itemFailed_ = itemFailed_ || failed;
    // The hub has done with this file's PC file.
    const size_t done = itemsDone_++;
    if (stager_ && done < files_.size() && files_[done].staged)
        stager_->Release(*files_[done].staged);
    if (!CopyWindow())
        return E_FAIL;
    if (failed) {
        wanted_.status = strErrorDescription;
        MarkErrorShown();
    } else {
        ++wanted_.filesDone;
    }
    ShowProgress();
    // The hub goes on to the next file when this returns (a copy to the device stops at a
    // failed file): it has to be written by then.
    if (!failed)
        AwaitSource(itemsDone_);
    return S_OK;
}

STDMETHODIMP ZvCAPCopier::OnItemInit(LPSTR strItem, LONG nSize) {
    if (!CopyWindow())
        return E_FAIL;
    if (!ErrorShown())
        wanted_.status = strItem ? strItem : "";
    wanted_.itemRange = nSize;
    wanted_.itemPosition = 0;
    ShowProgress();
    return S_OK;
}

STDMETHODIMP ZvCAPCopier::OnItemProgress(LPSTR, LONG nProgress) {
    if (!CopyWindow())
        return E_FAIL;
    wanted_.itemPosition = nProgress;
    ShowProgress();
    return S_OK;
}

STDMETHODIMP ZvCAPCopier::OnItemInfo(LPSTR) {
    return CopyWindow() ? S_OK : E_FAIL;
}

} // namespace tv::caplinker
