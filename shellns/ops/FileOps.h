// The copy, move and delete operations of the folder. Each prepares its name lists, asks the
// hub for the totals, starts the hub's operation and shows the modal progress window that
// receives the hub's callbacks.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <string>
#include <vector>

namespace tv::shellns {

inline constexpr size_t kMaxDestinationPath = 260;

class FileOperation {
public:
    virtual ~FileOperation() = default;
    virtual bool Run() = 0;

    // The PC files the operation produced (downloads) and the sources that finished without error.
    const std::vector<std::string>& Results() const { return results_; }
    const std::vector<std::string>& Succeeded() const { return succeeded_; }
    const std::vector<std::string>& Sources() const { return sources_; }

protected:
    // Runs a copy through the hub: items query, progress window, per-item results.
    bool RunCopy(const std::string& deviceName, bool pcSources);

    std::vector<std::string> sources_;
    std::vector<std::string> destinations_;
    std::vector<std::string> results_;
    std::vector<std::string> succeeded_;
    size_t maxLen_ = 0;
};

// Device items into the clipboard folder.
class ZvDownloadOp : public FileOperation {
public:
    explicit ZvDownloadOp(std::vector<std::string> devicePaths);
    bool Run() override;
    // The PC files of the items that were downloaded whole.
    std::vector<std::string> DownloadedFiles() const;
};

// A download whose files are then put on the clipboard as a plain file list (oldest systems).
class ZvClipboardCopyOp : public ZvDownloadOp {
public:
    using ZvDownloadOp::ZvDownloadOp;
    bool Run() override;
};

// PC files (an HDROP) into a device folder; with device paths as sources, a copy within the device.
class ZvUploadOp : public FileOperation {
public:
    ZvUploadOp(HDROP drop, const std::string& targetFolder);
    ZvUploadOp(const std::vector<std::string>& pcFiles, const std::string& targetFolder);
    bool Run() override;
};

// Deletion of device items, with the question when asked for.
class ZvDeleteOp : public FileOperation {
public:
    ZvDeleteOp(std::vector<std::string> devicePaths, bool confirm, HWND owner);
    bool Run() override;
    // Whether the hub accepted the deletion (callers refresh only then).
    bool Started() const { return started_; }

private:
    bool confirm_;
    HWND owner_;
    bool started_ = false;
};

// Cut on the oldest systems: copy to the clipboard, then delete (with its warning dialog).
class ZvCutOp : public FileOperation {
public:
    ZvCutOp(std::vector<std::string> devicePaths, bool isProtected, HWND owner);
    bool Run() override;

private:
    bool protected_;
    HWND owner_;
};

// The file names of an HDROP.
std::vector<std::string> DropFileNames(HDROP drop);
// A DROPFILES block (8-bit names) for the names; null for an empty list.
HGLOBAL BuildDropFiles(const std::vector<std::string>& names);

} // namespace tv::shellns
