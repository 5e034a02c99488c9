// What both mail synchronizers share: their progress sinks and reports, texts of the language
// library, the PC working folder, device copies through the hub and the date of a letter.
#pragma once
#include "ComPtr.h"
#include "SyncSinks.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"
#include <string>
#include <utility>
#include <vector>

namespace tv::mail {

// The advised sinks (cookies count up from 1, never pointer values) and the two flags that
// decide the closing report of a step.
class SyncReports {
  public:
    HRESULT Advise(IZvSyncCallback* sink, LONG* cookie);
    HRESULT Unadvise(LONG cookie);

    void Update(IZvSynchronizer* self, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done, ULONG total);
    void Custom(IZvSynchronizer* self, ZVSYNCPHASE phase, ZVSYNCSTATUS status, const std::string& text, ULONG done,
                ULONG total);
    void Error(IZvSynchronizer* self, ZVSYNCPHASE phase, const std::string& text);

    // Before a step: nothing reported yet.
    void BeginStep() { errorReported_ = completionReported_ = false; }
    // After a step: an error when it failed without one, a completion when it succeeded without one.
    void EndStep(IZvSynchronizer* self, ZVSYNCPHASE phase, HRESULT result);

  private:
    SyncSinks sinks_;
    bool errorReported_ = false;
    bool completionReported_ = false;
};

// A text of the language library ("" when it cannot be loaded), and one formatted with it.
std::string LangText(UINT id);
std::string LangFormat(UINT id, const char* argument);
std::string LangFormat(UINT id, long first, long second);

// The user's temporary folder + "Zelvan\Sync", made when missing (no trailing backslash).
std::string MailWorkingFolder();

// Creates the hub with the in-process server and handler contexts.
HRESULT CreateHub(com::ComPtr<IZelvanMgr>& hub);

// How long a device operation may stay silent before it counts as failed.
inline constexpr DWORD kCopySilenceMs = 30000;

// Copies one file through the hub (either direction) and waits for its end, dispatching this
// thread's messages meanwhile. A copy that keeps reporting may take as long as it needs; one
// silent for `silenceMs` fails. S_OK only when the item ended without error.
HRESULT CopyDeviceFile(IZelvanMgr* hub, const std::string& source, const std::string& destination,
                       DWORD silenceMs = kCopySilenceMs);
// Deletes one device file through the hub and waits for its end as a copy does.
HRESULT DeleteDeviceFile(IZelvanMgr* hub, const std::string& path);

// Letters left in the outbox this time, reported at the end of the transfer.
struct HeldLetters {
    std::vector<std::string> unsendable; // recipients of letters that could not go: a recipient
                                         // that cannot go on a command line, or one refused by the server
    int unreadable = 0;                  // letters whose attachment could not be fetched
    bool Any() const { return !unsendable.empty() || unreadable > 0; }
};
// A letter may go to these recipients: each can go on a command line.
bool CanSendTo(const char* recipients);
// A text from a letter as a report or trace line shows it: control characters become blanks.
std::string ShownText(std::string text);
// The send failure text, naming the recipients of the letters that could not go.
std::string SendFailedText(const std::vector<std::string>& unsendable);
// The report of the letters held back: the send failure text naming the unsendable ones, the
// read failure text for those whose attachment could not be fetched.
std::string HeldLettersText(const HeldLetters& held);
// A failure of the transfer after letters were held back: one report naming both.
std::string WithHeldLetters(const HeldLetters& held, const std::string& failure);

// The names of the entries of a listing, in order (one record at a time until none comes).
std::vector<std::string> ListedNames(IZvEnumFileItems* items);

// The names of the root folders of a device, in listing order.
HRESULT ListRootFolders(IZelvanMgr* hub, const std::string& deviceId, std::vector<std::string>& names);

// A letter's date: the current UTC time as "05 Mar 2002 14:03:09".
std::string LetterDateNow();

// Writes a whole file through a temporary file beside it, replacing the file only when every
// write succeeded.
bool ReplaceFileContent(const std::string& path, const void* data, size_t size);
bool ReadFileContent(const std::string& path, std::string& data);

// The last `count` characters (the device user id is the last 7 of the device id).
std::string LastChars(const std::string& text, size_t count);

} // namespace tv::mail

namespace tv::mail {

// The synchronizer's name (language text `id`) cut to nMaxLen; E_FAIL when it cannot be loaded.
HRESULT CopyFriendlyName(UINT id, LONG nMaxLen, unsigned char* name);
// The two item types of a mail synchronizer: its mail (`mailType`, named by `mailName`) and the
// attachments; flags 3.
HRESULT FillMailItemTypes(const GUID& mailType, UINT mailName, LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes);
// S_OK when the device's model version is `model`, S_FALSE otherwise, the hub's failure as it is.
HRESULT CheckDeviceModel(IZelvanMgr* hub, LPSTR deviceId, LONG model);
// Keeps a device string id: "@" and seven characters.
HRESULT StoreDeviceId(LPSTR deviceId, std::string& stored);

} // namespace tv::mail
