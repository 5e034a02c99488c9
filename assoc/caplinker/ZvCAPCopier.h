// The copier of an install: the files to copy (a name below the destination folder and the
// PC file), the icon and the destination folder on a device; Run copies them through the hub
// while its progress window (also the copy's callback) shows how far it got. Run fails when a
// name would leave the destination folder (nothing is copied then) or when a file failed.
#pragma once
#include "CapLinker.h"
#include "ComObject.h"
#include "ComPtr.h"
#include "FileStager.h"
#include "HubCopyWindow.h"
#include "TypeInfoDispatch.h"
#include "ZelvanMgr.h"
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tv::caplinker {

class ZvCAPCopier : public com::ComObject<ZvCAPCopier, IZvCAPCopier, IZvFileOperationCallback>,
                    private HubCopyWindow {
  public:
    explicit ZvCAPCopier(HMODULE language) : language_(language) {}
    // A copy that has not ended may still read the staged files: they stay.
    ~ZvCAPCopier() override;

    void* QueryOtherInterface(REFIID riid);

    // IZvCAPCopier
    STDMETHODIMP AddFile(BSTR strArg, BSTR strLocPath) override;
    STDMETHODIMP put_Icon(BSTR strPath) override;
    STDMETHODIMP Run(LONG* pRes) override;
    STDMETHODIMP put_ZelvanFolder(BSTR strFolder) override;
    TV_DUAL_DISPATCH(IZvCAPCopier, dispatch_)

    // IZvFileOperationCallback: E_FAIL while there is no progress window.
    STDMETHODIMP OnOperationComplete() override;
    STDMETHODIMP OnItemComplete(LPSTR strItem, LPSTR strErrorDescription, LONG nErrorCode) override;
    STDMETHODIMP OnItemInit(LPSTR strItem, LONG nSize) override;
    STDMETHODIMP OnItemProgress(LPSTR strItem, LONG nProgress) override;
    STDMETHODIMP OnItemInfo(LPSTR strInfo) override;

    bool HasIcon() const { return iconBits_ != nullptr; }
    // Appends a file whose PC file is the stager's next one (see StageSourcesWith).
    void AddStagedFile(std::string deviceName);
    // The PC files of the staged files are still being written by `stager` when Run starts: the
    // hub goes on to a file only once it is written, so the copy starts with the first while the
    // rest are written, and each goes once the hub has copied it. The copier keeps the stager,
    // and with it the files, until the copy has ended, even when Run gave up waiting for that end.
    void StageSourcesWith(std::unique_ptr<FileStager> stager) { stager_ = std::move(stager); }

  private:
    struct CopyFile {
        std::string deviceName; // below the destination folder
        std::string pcPath;
        std::optional<size_t> staged; // the file of the stager that is the PC file
    };

    // The destination folder: the one given, or the user's choice; S_FALSE when there is none.
    HRESULT ChooseDestination(IZelvanMgr* hub, std::string& folder);
    HRESULT CopyWithProgress(const std::string& folder);
    // False after telling the user, when a file's name would not lie below the destination folder.
    bool NamesStayInTheFolder() const;
    // The PC paths of the files in order (a staged one's once the stager has made it).
    HRESULT ListSources(std::vector<std::string>& sources);
    // Waits until the stager has written the PC file of file `index`; on a failure the copy is
    // cancelled before that file and the failure kept for Run's result.
    HRESULT AwaitSource(size_t index);

    void OnCopyWindowMade(HWND dialog) override;
    bool OnCopyWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The callbacks note what the window should show; it is drawn at once when the last drawing
    // is a while ago, else by a timer: the hub reports every file several times, and drawing
    // each report cost more than copying small files.
    void ShowProgress();
    void DrawProgress();

    HMODULE language_;
    com::TypeInfoDispatch dispatch_{IID_IZvCAPCopier};
    std::vector<CopyFile> files_;
    BYTE* iconBits_ = nullptr;
    BITMAPINFO* iconHeader_ = nullptr;
    std::optional<std::string> folder_;

    std::unique_ptr<FileStager> stager_;
    size_t stagedFiles_ = 0;

    // While Run copies.
    com::ComPtr<IZelvanMgr> hub_;
    std::string device_;
    // The hub's copy was started and its end has not been reported.
    bool copyRunning_ = false;
    size_t itemsDone_ = 0;        // files the hub has reported, failed ones too
    bool itemFailed_ = false;     // one of them came with an error
    HRESULT sourceResult_ = S_OK; // a PC file that could not be written

    // What the progress window shows (drawn_) and should show (wanted_).
    struct ProgressView {
        std::string status;
        LONG itemRange = 0;
        LONG itemPosition = 0;
        LONG filesDone = 0;
        bool operator==(const ProgressView&) const = default;
    };
    ProgressView wanted_;
    ProgressView drawn_;
    bool drawPending_ = false;
    DWORD lastDrawn_ = 0;
};

} // namespace tv::caplinker
