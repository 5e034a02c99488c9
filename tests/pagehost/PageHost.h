// Hosts item property pages for tests as the program shows them: on a thread of its own, a hub
// over the folder-backed test devices (served as the ZelvanMgr class, so the pages reach it as
// they reach the program's hub) and the program's property sheet with the
// pages under test and one item. The test drives the sheet like a user from its own thread.
#pragma once
#include "ClassFactory.h"
#include "ZvDevice.h"
#include <windows.h>
#include <ocidl.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tv::test {

// A temporary folder whose sub-folders "devices\<name>" are the test devices; removed at the end.
class TestDeviceFolders {
  public:
    TestDeviceFolders();
    ~TestDeviceFolders();

    std::string Root() const { return root_; }
    // The PC path of a device path "Dev1\docs\a.txt".
    std::string PcPath(const std::string& devicePath) const;
    void MakeFolder(const std::string& devicePath) const;
    void WriteFile(const std::string& devicePath, const std::string& text) const;
    bool Exists(const std::string& devicePath) const;
    DWORD Attributes(const std::string& devicePath) const;

  private:
    std::string root_;
};

// The item a sheet shows: its type, attributes, size and time, its name and the folder holding it.
struct ShownItem {
    long type = 8;
    long attr = 0;
    long size = 0;
    FILETIME time = {};
    std::string name;
    std::string folder;
};

// One page class under test and the class object that makes its pages.
using PageClass = std::pair<CLSID, com::ComPtr<IClassFactory>>;

template <class Page> PageClass ClassOf(const CLSID& clsid) {
    com::ComPtr<com::ClassFactory<Page>> factory;
    com::MakeComObject(factory);
    com::ComPtr<IClassFactory> classObject;
    if (factory)
        factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&classObject));
    return {clsid, classObject};
}

class PageSheetRun {
  public:
    PageSheetRun(const TestDeviceFolders& devices, std::string caption, std::vector<PageClass> pages,
                 ShownItem item);
    ~PageSheetRun() { Join(); }
    PageSheetRun(const PageSheetRun&) = delete;
    PageSheetRun& operator=(const PageSheetRun&) = delete;

    // The sheet's window, once shown (null after `timeoutMs`).
    HWND WaitForSheet(DWORD timeoutMs = 15000) const;
    // The sheet's window and the page it shows, once both are there (the page null otherwise).
    std::pair<HWND, HWND> WaitForPage(DWORD timeoutMs = 15000) const;
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }
    // 1 after OK, 2 after Cancel, -1 when the sheet never ran.
    int Result() const { return result_; }

  private:
    void Run(std::vector<PageClass> pages, ShownItem item);

    std::string caption_;
    std::string deviceRoot_;
    int result_ = -1;
    std::thread thread_;
};

// A page made by the class object of a deliverable in the build's bin folder (`dll` is its
// file name), as COM makes it from the registered server.
HRESULT PageFromDeliverable(const wchar_t* dll, REFCLSID clsid, com::ComPtr<IPropertyPage>& page);

// The page shown in a sheet (its visible dialog child).
HWND ShownPage(HWND sheet);
std::string ControlText(HWND page, int id);
// Waits until the control's text satisfies `wanted` (at most `timeoutMs`); the last text seen.
std::string WaitForControlText(HWND page, int id, const std::string& wanted, DWORD timeoutMs = 10000);
// A dialog of this process with that caption (null after `timeoutMs`).
HWND WaitForOwnDialog(const std::wstring& caption, DWORD timeoutMs);
// This process's message box with that caption, closed with its OK button; false when none
// appeared.
bool DismissMessageBox(const std::wstring& caption, DWORD timeoutMs = 10000);
// The title of the sheet's first tab.
std::string TabTitle(HWND sheet);
// Waits until the sheet's Apply button is enabled (a page reported a change).
bool WaitForApplyEnabled(HWND sheet);
// Waits for the sheet's window to go.
bool WaitForClose(HWND sheet, DWORD timeoutMs = 15000);
// A screenshot of the desktop into the test program's folder.
void SaveShot(const std::wstring& name);

} // namespace tv::test
