#include "FileOps.h"
#include "ClipboardFolder.h"
#include "DevicePath.h"
#include "Handles.h"
#include "NsGlobals.h"
#include "PcSafeName.h"
#include "Progress.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include <shlobj.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tv::shellns {
namespace {

std::vector<LPSTR> Pointers(std::vector<std::string>& texts, std::vector<std::vector<char>>& buffers, size_t size) {
    buffers.clear();
    std::vector<LPSTR> pointers;
    for (const std::string& text : texts) {
        buffers.emplace_back(std::max(size, text.size() + 1), '\0');
        std::memcpy(buffers.back().data(), text.data(), text.size());
        pointers.push_back(buffers.back().data());
    }
    return pointers;
}

size_t Longest(const std::vector<std::string>& texts) {
    size_t longest = 0;
    for (const std::string& text : texts)
        longest = std::max(longest, text.size());
    return longest;
}

std::string Format(const std::string& pattern, const std::string& argument) {
    std::vector<char> text(pattern.size() + argument.size() + 32);
    std::snprintf(text.data(), text.size(), pattern.c_str(), argument.c_str());
    return text.data();
}

std::string FormatNumber(const std::string& pattern, size_t number) {
    std::vector<char> text(pattern.size() + 32);
    std::snprintf(text.data(), text.size(), pattern.c_str(), static_cast<int>(number));
    return text.data();
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

} // namespace

std::vector<std::string> DropFileNames(HDROP drop) {
    std::vector<std::string> names;
    if (!drop)
        return names;
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char name[MAX_PATH] = {};
        if (DragQueryFileA(drop, i, name, sizeof(name)) > 0)
            names.emplace_back(name);
    }
    return names;
}

HGLOBAL BuildDropFiles(const std::vector<std::string>& names) {
    if (names.empty())
        return nullptr;
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& name : names)
        size += name.size() + 1;
    HGLOBAL block = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block)
        return nullptr;
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    char* at = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
    for (const std::string& name : names) {
        std::memcpy(at, name.c_str(), name.size() + 1);
        at += name.size() + 1;
    }
    GlobalUnlock(block);
    return block;
}

bool FileOperation::RunCopy(const std::string& deviceName, bool pcSources) {
    if (sources_.empty())
        return false;
    com::ComPtr<IZelvanMgr> hub;
    if (pcSources) {
        if (FAILED(AcquireGlobals()->GetHub(hub)))
            return false;
    } else if (FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, kHubContexts, IID_PPV_ARGS(&hub)))) {
        return false;
    }
    auto state = std::make_shared<ProgressState>();
    state->kind = ProgressKind::Copy;
    state->deviceName = deviceName;
    state->hub = hub;
    // Items the PC cannot hold fail one by one, never written under another name: a device name
    // that cannot be a PC file name, or a path a PC path could not hold.
    std::vector<std::string> sources, destinations;
    for (size_t i = 0; i < sources_.size(); ++i) {
        if (!pcSources && !portable::IsPcSafeComponent(LastComponent(sources_[i]))) {
            state->errors += LastComponent(sources_[i]) + ": " + LangString(IDS_NS_BAD_PC_NAME);
            continue;
        }
        if (destinations_[i].size() >= kMaxDestinationPath) {
            state->errors += sources_[i] + ": " + LangString(IDS_NS_PATH_TOO_LONG);
            continue;
        }
        sources.push_back(sources_[i]);
        destinations.push_back(destinations_[i]);
        state->sources.insert(sources_[i]);
    }
    if (sources.empty()) {
        MessageBoxA(nullptr, state->errors.c_str(), LangString(IDS_NS_CAPTION).c_str(), MB_ICONERROR);
        return false;
    }
    std::vector<std::vector<char>> sourceBuffers, destinationBuffers;
    const size_t bufferSize = pcSources ? kMaxDestinationPath + 1 : maxLen_ + 1;
    std::vector<LPSTR> sourcePointers = Pointers(sources, sourceBuffers, bufferSize);
    std::vector<LPSTR> destinationPointers = Pointers(destinations, destinationBuffers, bufferSize);
    com::ComPtr<ItemsInfoSink> sink;
    if (FAILED(com::MakeComObject(sink)))
        return false;
    if (FAILED(hub->GetItemsInfo(static_cast<LONG>(sources.size()), static_cast<LONG>(bufferSize),
                                 sourcePointers.data(), sink.Get())) ||
        !sink->Wait(kItemsInfoTimeoutMs))
        return false;
    state->total = static_cast<unsigned long>(sink->Totals().nTotalSize);
    com::ComPtr<ZvNSCopyCallback> callback;
    if (FAILED(com::MakeComObject(callback, state)))
        return false;
    const LONG maxLen = static_cast<LONG>(pcSources ? kMaxDestinationPath : maxLen_);
    if (FAILED(hub->CopyFileItems(static_cast<LONG>(sources.size()), maxLen, sourcePointers.data(),
                                  destinationPointers.data(), callback.Get())))
        return false;
    results_ = destinations;
    bool finished = RunProgressDialog(state);
    for (size_t i = 0; i < sources.size(); ++i)
        if (state->succeeded.count(sources[i]))
            succeeded_.push_back(sources[i]);
    return finished;
}

// ---- downloads ----

ZvDownloadOp::ZvDownloadOp(std::vector<std::string> devicePaths) {
    sources_ = std::move(devicePaths);
    for (const std::string& source : sources_)
        destinations_.push_back(GetClipboardPathFor(source));
    maxLen_ = std::max(Longest(sources_), Longest(destinations_)) + 1;
}

bool ZvDownloadOp::Run() {
    // Without a clipboard folder there is nowhere to download to.
    if (sources_.empty() || !ClearClipboardFolder() || !HasNestedRest(sources_.front()))
        return false;
    for (const std::string& destination : destinations_)
        if (destination.empty())
            return false;
    bool ok = RunCopy(SplitDevicePath(sources_.front()).device, false);
    // A download counts for an item only when it completed without error and its file is there;
    // what a failed or cancelled item left behind is removed, so that no PC program takes it.
    std::vector<std::string> confirmed;
    for (size_t i = 0; i < sources_.size(); ++i) {
        const bool completed =
            std::find(succeeded_.begin(), succeeded_.end(), sources_[i]) != succeeded_.end();
        if (completed && FileExists(destinations_[i]))
            confirmed.push_back(sources_[i]);
        else if (!completed && portable::IsPcSafeComponent(LastComponent(sources_[i])))
            RemoveFromClipboardFolder(destinations_[i]);
    }
    succeeded_ = std::move(confirmed);
    return ok;
}

std::vector<std::string> ZvDownloadOp::DownloadedFiles() const {
    std::vector<std::string> files;
    for (size_t i = 0; i < sources_.size(); ++i)
        if (std::find(succeeded_.begin(), succeeded_.end(), sources_[i]) != succeeded_.end())
            files.push_back(destinations_[i]);
    return files;
}

bool ZvClipboardCopyOp::Run() {
    if (!ZvDownloadOp::Run())
        return false;
    if (!OpenClipboard(nullptr))
        return false;
    EmptyClipboard();
    HGLOBAL block = BuildDropFiles(DownloadedFiles());
    if (block && !SetClipboardData(CF_HDROP, block))
        GlobalFree(block);
    CloseClipboard();
    return true;
}

// ---- uploads, and copies within a device ----

ZvUploadOp::ZvUploadOp(HDROP drop, const std::string& targetFolder)
    : ZvUploadOp(DropFileNames(drop), targetFolder) {}

ZvUploadOp::ZvUploadOp(const std::vector<std::string>& pcFiles, const std::string& targetFolder) {
    sources_ = pcFiles;
    for (const std::string& source : sources_)
        destinations_.push_back(targetFolder + "\\" + LastComponent(source));
    maxLen_ = kMaxDestinationPath;
}

bool ZvUploadOp::Run() {
    if (destinations_.empty())
        return false;
    return RunCopy(SplitDevicePath(destinations_.front()).device, true);
}

// ---- deletion ----

ZvDeleteOp::ZvDeleteOp(std::vector<std::string> devicePaths, bool confirm, HWND owner)
    : confirm_(confirm), owner_(owner) {
    sources_ = std::move(devicePaths);
    maxLen_ = Longest(sources_) + 1;
}

bool ZvDeleteOp::Run() {
    const std::string caption = LangString(IDS_NS_CAPTION);
    if (sources_.empty() || !HasNestedRest(sources_.front()))
        return false;
    const std::string question = sources_.size() == 1 ? Format(LangString(IDS_NS_DELETE_ONE), sources_.front())
                                                      : FormatNumber(LangString(IDS_NS_DELETE_MANY), sources_.size());
    if (confirm_ && MessageBoxA(owner_, question.c_str(), caption.c_str(), MB_ICONQUESTION | MB_YESNO) != IDYES)
        return false;
    com::ComPtr<IZelvanMgr> hub;
    if (FAILED(AcquireGlobals()->GetHub(hub)))
        return false;
    auto state = std::make_shared<ProgressState>();
    state->kind = ProgressKind::Delete;
    state->hub = hub;
    state->deviceName = SplitDevicePath(sources_.front()).device;
    state->total = 100;
    state->steps = static_cast<long>(sources_.size());
    state->sources.insert(sources_.begin(), sources_.end());
    com::ComPtr<ZvNSCopyCallback> callback;
    if (FAILED(com::MakeComObject(callback, state)))
        return false;
    std::vector<std::vector<char>> buffers;
    std::vector<LPSTR> pointers = Pointers(sources_, buffers, maxLen_ + 1);
    // A deletion the hub refused fails the operation: callers then leave the view alone.
    if (FAILED(hub->DeleteFileItems(static_cast<LONG>(sources_.size()), static_cast<LONG>(maxLen_ + 1),
                                    pointers.data(), callback.Get())))
        return false;
    started_ = true;
    RunProgressDialog(state);
    for (const std::string& source : sources_)
        if (state->succeeded.count(source))
            succeeded_.push_back(source);
    return true;
}

// ---- cut on the oldest systems ----

ZvCutOp::ZvCutOp(std::vector<std::string> devicePaths, bool isProtected, HWND owner)
    : protected_(isProtected), owner_(owner) {
    sources_ = std::move(devicePaths);
}

namespace {

struct CutWarningChoice {
    bool noMoreWarnings = false;
};

INT_PTR CALLBACK CutWarningProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        CheckDlgButton(window, IDC_NS_CUT_NO_WARNING, BST_UNCHECKED);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        auto* choice = reinterpret_cast<CutWarningChoice*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        choice->noMoreWarnings = IsDlgButtonChecked(window, IDC_NS_CUT_NO_WARNING) == BST_CHECKED;
        EndDialog(window, LOWORD(wParam) == IDOK ? 0 : 1);
        return TRUE;
    }
    return FALSE;
}

DWORD ReadCutWarning() {
    DWORD value = 0, size = sizeof(value);
    RegGetValueA(HKEY_CURRENT_USER, kNamespaceKey, "CutWarning", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

void WriteCutWarning() {
    com::UniqueHKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kNamespaceKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD one = 1;
    RegSetValueExA(key.Get(), "CutWarning", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
}

} // namespace

bool ZvCutOp::Run() {
    auto deleteCopied = [this](const std::vector<std::string>& copied) {
        // Only what was copied whole is deleted.
        if (copied.empty())
            return false;
        ZvDeleteOp remove(copied, true, nullptr);
        return remove.Run();
    };
    if (ReadCutWarning()) {
        ZvClipboardCopyOp copy(sources_);
        return copy.Run() && deleteCopied(copy.Succeeded());
    }
    CutWarningChoice choice;
    INT_PTR answer = DialogBoxParamA(LanguageModule(), MAKEINTRESOURCEA(IDD_NS_CUT_WARNING), GetActiveWindow(),
                                     CutWarningProc, reinterpret_cast<LPARAM>(&choice));
    if (choice.noMoreWarnings)
        WriteCutWarning();
    if (answer != 0)
        return false;
    ZvClipboardCopyOp copy(sources_);
    if (!copy.Run())
        return false;
    if (protected_) {
        MessageBoxA(owner_, LangString(IDS_NS_PROTECTED).c_str(), LangString(IDS_NS_CAPTION).c_str(), MB_ICONERROR);
        return false;
    }
    return deleteCopied(copy.Succeeded());
}

} // namespace tv::shellns
