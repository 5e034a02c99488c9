// What the end-to-end tests share: where the program is, a test device tree, starting and
// ending the program, and the registry values the tests set.
#pragma once
#include "ComObject.h"
#include "ComPtr.h"
#include "UiHarness.h"
#include "ZelvanMgr.h"
#include <windows.h>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace tv::e2e {

// Tavrilon.exe of this build.
std::wstring ProgramPath();
// The folder of the test scripts (this source folder, as a Windows path).
std::wstring ScriptFolder();
// The folder the tests keep their output in (screenshots).
std::wstring OutputFolder();

// A fresh tree "<temp>\tve2e": devices\DevA\Docs\a.txt ("device text"), devices\DevB, and the
// PC folder pc\ with one.txt and js.txt. The test device factory is pointed at it (HKCU, as the
// program is started by COM without this process's environment), the start-up dialog is off.
struct TestTree {
    std::string root;
    std::string devices;
    std::string pc;
};
TestTree MakeTestTree();
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// Runs the program with `arguments` and waits for its exit code (-2 on time-out).
long RunProgram(const std::wstring& arguments, DWORD timeoutMs = 60000);

// The running program with its hidden main dialog.
class RunningProgram {
public:
    // Starts "Tavrilon.exe /NoSplash" and waits until its main dialog exists.
    bool Start();
    // Ends it through the main dialog's "exit without questions" command; its exit code.
    long Exit();
    // Waits for an end the test brought about another way; its exit code.
    long WaitForExit(DWORD timeoutMs);
    HWND MainDialog() const { return mainDialog_; }
    DWORD ProcessId() const { return process_.Id(); }

private:
    test::StartedProcess process_;
    HWND mainDialog_ = nullptr;
};

// The main dialog of a program process (hidden, template title "Tavrilon"); null when none.
// A process id of 0 takes the dialog of any process (a program that COM started).
HWND FindMainDialog(DWORD processId, DWORD timeoutMs);

// Opens the program's tray menu as a right click on its icon would (the cursor put near the
// screen's lower right corner first); the menu window, or null when none came within 10 s.
HWND OpenTrayMenu(HWND mainDialog);
// Closes an open tray menu and waits (at most 5 s) until it is gone.
void CloseTrayMenu(HWND mainDialog, HWND menu);

// The program that COM started for a client (its hidden main dialog and its process).
class ComStartedProgram {
public:
    // Waits for the main dialog of such a program and opens its process; false when none.
    bool Attach(DWORD timeoutMs);
    // Ends it through the main dialog's "exit without questions" command; its exit code, or -1
    // when it was not attached or did not end within 30 s.
    long Exit();
    HWND MainDialog() const { return mainDialog_; }

private:
    HWND mainDialog_ = nullptr;
    com::UniqueHandle process_;
};

// The hub of the program (started by COM when it does not run); null when it cannot be had.
com::ComPtr<IZelvanMgr> ConnectHub();
// The names of the hub's root listing, in the order the tray numbers its device commands.
std::vector<std::string> ListedDevices(IZelvanMgr* hub);
// The position of the device `name` among the tray's device commands once the hub lists `count`
// devices; -1 when that does not happen in time or the device is not among them.
long TrayPosition(IZelvanMgr* hub, const std::string& name, size_t count);
// The page of a property sheet (its tab control `tabs`) that holds control `id`: each tab is shown in
// turn until that page is shown; null when none is.
HWND ShowSheetPageWith(HWND sheet, HWND tabs, int id);
// The number of devices the hub holds; -1 when the hub cannot be reached.
LONG HubDeviceCount();
// The program's "DeviceEvents" script that writes "<tag> found <id>" and "<tag> lost <id>" to
// the shared log for each device found and lost.
std::wstring DeviceEventsScript(const std::string& tag);

// Records the callbacks of one hub operation ("item|text|code" per completed item) and notes its
// end.
class RecordingCallback : public com::ComObject<RecordingCallback, IZvFileOperationCallback> {
public:
    std::vector<std::string> completed;
    bool done = false;

    STDMETHODIMP OnOperationComplete() override;
    STDMETHODIMP OnItemComplete(LPSTR item, LPSTR text, LONG code) override;
    STDMETHODIMP OnItemInit(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }

    // Dispatches this apartment's messages (the callbacks arrive through them) until `until`
    // holds, for at most 30 s.
    bool Wait(const std::function<bool()>& until);
    // Until the operation's end.
    bool Wait();
};

void SetUserString(const std::string& key, const char* name, const std::string& value);
void SetUserNumber(const std::string& key, const char* name, DWORD value);

// The backup folder of one test program's sets: a folder below the documents folder, named anew
// for each run ("<tag>-" and a random part) and made. Under Wine the documents folder is
// the user's home, shared by every prefix and kept between runs, and process ids repeat from
// one fresh prefix to the next, so a name made of the process id alone meets an earlier run's
// sets. The program is pointed at it (the "BackupFolder" value); the full path is returned, empty
// when none could be made. RemoveSetFolder takes it and the value away again.
std::string UseNewSetFolder(const std::string& tag);
void RemoveSetFolder(const std::string& path);

// Polls `condition` every 100 ms; false when it still does not hold after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// Stores a script item in the item store, or removes it when `script` is null; false on failure.
bool StoreScript(const wchar_t* item, const wchar_t* script);


// The shared log file the program writes through the logger.
std::string SharedLogText();

bool KeyExists(HKEY root, const std::string& path);
std::string ReadString(HKEY root, const std::string& path, const char* value);

// Schedules, as a user does on the synchronization options page, only the synchronizers `classes`
// for the device `strId`: every other synchronizer's schedule is emptied, so that a session runs
// those synchronizers alone whatever else is installed (the others are listed, unchecked).
void ScheduleOnly(std::initializer_list<CLSID> classes, const std::string& strId);
// Empties every synchronizer's schedule.
void ClearSchedules();

// One synchronization session of the device `name` (`strId`) started from the program's tray
// (its main dialog `mainDialog`), as a user starts it: the session dialog is opened, Start is
// pressed and the session runs until the row of the synchronizer named `row` shows a final state
// ("Synchronized", "Error" or "Stopped", or the synchronizer's own completion text) and Start is
// enabled again.
class TraySession {
public:
    // Opens the session dialog and presses Start; false when the dialog did not come.
    bool Start(HWND mainDialog, const std::string& name, const std::string& strId);
    HWND Dialog() const { return dialog_; }
    // Waits for the end (at most `timeoutMs` for each step): the row ends in a final state, or in
    // `finalText` when the synchronizer reports its completion with a text of its own. The rows
    // "<name>: <state>" then; "<no end> " and the rows when it did not end.
    std::string WaitForEnd(const std::string& row, DWORD timeoutMs, const std::string& finalText = {});
    // Presses Close and waits until the dialog is gone.
    bool Close(DWORD timeoutMs);

private:
    HWND dialog_ = nullptr;
};
// A string of the language library.
std::string LanguageText(UINT id);

// The rows of a session dialog, "<synchronizer>: <state>" a line each.
std::string SessionRows(HWND dialog);

// Makes an emulated device the program's only device for a test suite: the folder-backed test
// devices get an empty root folder named after `tag`, the program shows no start-up dialog or
// balloon, and the device's registration key is written afresh with its name, not as a guest.
// Returns the test devices' previous root, for ForgetEmulatedDevice.
std::string UseOnlyEmulatedDevice(const std::string& tag, const std::string& registration, const std::string& name);
// Deletes the device's registration and puts the test devices' previous root back.
void ForgetEmulatedDevice(const std::string& registration, const std::string& previousRoot);

// Makes the emulated 1.0 device of devlink10/tests/zvl10_e2e.sh, whose phases run in its prefix,
// the program's only device (as UseOnlyEmulatedDevice), with no alert on its disconnection and no
// device event script. The folder of its media ("Z:<prefix>\device-root"); empty outside a
// prefix, when nothing is set up.
std::string UseOnlyDevice10(const std::string& tag, const std::string& registration, const std::string& name);
// Has the program started by COM and waits until its hub lists the one device (the 1.0 factory
// probes the serial ports in rounds 5 s apart).
bool AttachWithOneDevice(ComStartedProgram& program);

} // namespace tv::e2e
