// A hub made inside a test program and served to the program's other threads under the hub's
// class, the way Tavrilon.exe serves it: components under test create it with CoCreateInstance
// as they would in the program. Its devices come from the test device factory, and its folder
// browser answers what the test tells it, or is the hub's own browser over "My Zelvan".
#pragma once
#include "ClassFactory.h"
#include "Hub.h"
#include "UiHarness.h"
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tv::test {

class ScriptedHub : public hub::Hub {
  public:
    using Hub::BrowseForFolder;
    using Hub::Command;
    using Hub::CreateFolder;
    using Hub::put_BusyUI;

    // What the next folder choices give: a device folder (S_OK), or a cancel (S_FALSE) when empty.
    void AnswerBrowse(std::optional<std::string> folder);
    // The folder choices open the hub's own browser over the folder registered in the prefix.
    void UseRealBrowser() {
        std::lock_guard<std::mutex> guard(lock_);
        realBrowser_ = true;
    }
    // Every device command the hub was asked for, each followed by " busy" when BusyUI was set then.
    std::vector<std::string> Commands() const;
    int RefreshCount() const;
    std::wstring BrowseTitle() const;
    std::wstring BrowseText() const;
    // What the devices answer to "ver " from now on: "Zelvan OS v. <version> built 01.01.2003".
    void AnswerVersion(std::string version);
    // The bitmap that the picture control `controlId` of the hub's busy window (a copy's progress
    // window) showed when the last copy started; null when it showed none or there was no window.
    HBITMAP PictureAtLastCopy(int controlId) const;
    // Every folder the hub was asked to create on a device, in order.
    std::vector<std::string> CreatedFolders() const;
    // From now on Items answers S_OK without a listing, as a faulty hub might.
    void AnswerItemsWithNothing() {
        std::lock_guard<std::mutex> guard(lock_);
        itemsWithNothing_ = true;
    }

    // Runs `action` once, on the hub's thread, when BusyUI is next cleared, before the clearing
    // caller has its answer: a component that ends its modal work waits in that call meanwhile.
    void BeforeBusyClears(std::function<void()> action) {
        std::lock_guard<std::mutex> guard(lock_);
        beforeBusyClears_ = std::move(action);
    }

    STDMETHODIMP put_BusyUI(LONG nVal) override;
    STDMETHODIMP BrowseForFolder2(BSTR bsTitle, BSTR bsText, BSTR bsStatus, BSTR* bsPath) override;
    STDMETHODIMP BrowseForFolder(LPSTR strTitle, LPSTR strText, LONG nMaxLen, unsigned char* strPath) override;
    STDMETHODIMP Command(LPSTR strNameOrID, LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP CopyFileItems(LONG nStringCount, LONG nMaxLen, LPSTR* aStrSrc, LPSTR* aStrDest,
                               IZvFileOperationCallback* callback) override;
    STDMETHODIMP CreateFolder(LPSTR strFolderPathName) override;
    STDMETHODIMP Items(BSTR strPath, IUnknown** ppItems) override;

  private:
    mutable std::mutex lock_;
    std::optional<std::string> browseAnswer_;
    bool realBrowser_ = false;
    std::optional<std::string> version_;
    std::wstring browseTitle_, browseText_;
    std::vector<std::string> commands_;
    std::vector<std::string> createdFolders_;
    bool itemsWithNothing_ = false;
    std::function<void()> beforeBusyClears_;
    int refreshes_ = 0;
    std::vector<std::pair<int, HBITMAP>> picturesAtCopy_;
};

// Serves one ScriptedHub on the calling thread (a single-threaded apartment that keeps
// dispatching messages while the components under test run).
class ServedHub {
  public:
    ServedHub() = default;
    ServedHub(const ServedHub&) = delete;
    ServedHub& operator=(const ServedHub&) = delete;
    ~ServedHub() { Stop(); }

    // Registers the test device factory and the hub's type library, points the factory at
    // `deviceRoot` (one sub-folder per device), makes the hub, starts its factories and serves it.
    HRESULT Start(const std::string& deviceRoot);
    void Stop();
    // Takes the hub's class back from COM while the hub goes on serving those who have it.
    void WithdrawClass();
    ScriptedHub* Hub() const { return hub_.Get(); }
    // The hub's BusyUI flag as its own face reads it (-1 when there is no hub).
    LONG BusyUI() const;

  private:
    using Factory = com::SingletonClassFactory<ScriptedHub, com::NoModuleLock>;
    com::ComPtr<Factory> factory_;
    com::ComPtr<ScriptedHub> hub_;
    DWORD cookie_ = 0;
};


// Deletes a folder with everything in it, quietly.
void DeleteTree(const std::wstring& folder);

// Dispatches this thread's messages until `thread` ends or `timeoutMs` passed; true when it ended.
bool PumpUntilThreadEnds(HANDLE thread, DWORD timeoutMs);

} // namespace tv::test
