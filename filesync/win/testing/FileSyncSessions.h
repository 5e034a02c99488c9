// Test support for the file synchronizer's end-to-end suites (both device generations): the
// device set up as the program's only device with the file synchronizer as its only
// synchronizer, sessions started from the running program's tray and driven in its session
// dialog, the user's answers to the conflict dialog, and files read and written as the tests see
// them from the PC side.
#pragma once
#include "E2eSupport.h"
#include "FileTree.h"
#include "TestSynchronizersOnly.h"
#include <windows.h>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tv::filesync::testing {

// A file's bytes, or "<missing>".
std::string Read(const std::string& path);
void Write(const std::string& path, const std::string& text);
using e2e::LanguageText;

// The device a suite synchronizes: its name in the program, its string id and the name of its
// file synchronizer's row in the session dialog.
struct SessionDevice {
    std::string name;
    std::string strId;
    std::string rowName;
    std::string Registration() const { return "Software\\Zelvan\\Tavrilon\\DeviceList\\" + strId; }
};

// Makes the device the program's only device and `synchronizer` the only synchronizer, scheduled
// for it, with manual conflict resolution; the device's stored state holds the PC folder `pc`
// and `masks`, and nothing else. Put back (the category and the test devices) when it goes.
class FileSyncSetting {
public:
    FileSyncSetting(const SessionDevice& device, REFCLSID synchronizer, const std::string& pc,
                    const std::vector<std::string>& masks, const std::string& tag);
    ~FileSyncSetting();
    FileSyncSetting(const FileSyncSetting&) = delete;
    // The device's setting and stored state are left as they are when this goes (for a test
    // program that a later run goes on from); the category is put back all the same.
    void KeepDevice() { keepDevice_ = true; }
    FileSyncSetting& operator=(const FileSyncSetting&) = delete;

    // Only the category: the device's setting and stored state of an earlier run are kept.
    static std::unique_ptr<tests::SynchronizersOnly> OnlySynchronizer(REFCLSID synchronizer);

private:
    std::string registration_;
    std::string previousRoot_;
    bool keepDevice_ = false;
    std::unique_ptr<tests::SynchronizersOnly> only_;
};

// Runs one session of the device from the tray of the program whose main dialog is given, and
// returns the session dialog's rows ("<row>: <state>" lines) as they stood at its end. With
// `stopWhen`, Stop is pressed as soon as it holds (it is polled once Start was pressed); with
// `shot`, a screenshot of that name is kept in the test output.
std::string RunSession(HWND mainDialog, const SessionDevice& device, const std::function<bool()>& stopWhen = {},
                       const char* shot = nullptr);

// Acts as the user of the conflict dialog on a thread of its own: answers each dialog that comes
// with the next of `answers` (a screenshot of the first is kept as `shot`), until they are used
// up or Stop is called.
class ConflictUser {
public:
    explicit ConflictUser(std::vector<int> answers, const char* shot = nullptr);
    ~ConflictUser() {
        Stop();
        Join();
    }
    void Stop() { stop_ = true; }
    ConflictUser(const ConflictUser&) = delete;
    ConflictUser& operator=(const ConflictUser&) = delete;

    // Waits for the thread; the number of dialogs answered.
    int Join();

private:
    std::atomic<int> answered_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The file names and bytes below a folder, for comparison with what a test expects there.
using Contents = std::map<std::string, std::string>;
// The names whose bytes differ, or that are missing or extra ("" when the folder holds exactly
// `expected`).
std::string ContentDifferences(const std::string& folder, const Contents& expected);

} // namespace tv::filesync::testing
