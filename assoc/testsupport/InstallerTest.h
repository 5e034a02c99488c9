// What the tests of both installers share: their test packages, a device folder served by a hub
// made in the test program, the installer under test, and the opening of a file while a helper
// thread acts as the user.
#pragma once
#include "AnsiText.h"
#include "ComObject.h"
#include "LanguageLibrary.h"
#include "ServedHub.h"
#include "UiHarness.h"
#include <gtest/gtest.h>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <thread>

namespace tv::test {

// A file of the installers' test data, in Windows form.
inline std::string TestData(const char* name) {
    std::string path = std::string(TV_ASSOC_TESTDATA) + "/" + name;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    // The source tree is reached through the Unix root drive.
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? path : "Z:" + path;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A text of the language library.
inline std::wstring Text(UINT id) {
    static HMODULE language = LoadLibraryExW(L"Zv0409.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t buffer[512] = {};
    LoadStringW(language, id, buffer, ARRAYSIZE(buffer));
    return buffer;
}

// The device "Dev1" is the folder devices\Dev1 below a fresh folder of this process, with the
// sub-folders `deviceFolders`; the installer is made in this program with the language library.
template <class Installer>
class InstallerTest : public testing::Test {
protected:
    void StartWith(const char* prefix, std::initializer_list<const char*> deviceFolders) {
        char folder[MAX_PATH] = {};
        GetTempPathA(sizeof(folder), folder);
        root_ = std::string(folder) + prefix + std::to_string(GetCurrentProcessId());
        for (const char* sub : {"", "\\devices", "\\devices\\Dev1"})
            CreateDirectoryA((root_ + sub).c_str(), nullptr);
        for (const char* sub : deviceFolders)
            CreateDirectoryA(Device(sub).c_str(), nullptr);
        language_ = LoadLanguageLibrary(GetModuleHandleW(nullptr));
        ASSERT_NE(language_, nullptr);
        ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
        ASSERT_EQ(com::MakeComObject(installer_, GetModuleHandleW(nullptr), language_), S_OK);
    }
    void TearDown() override {
        installer_.Reset();
        served_.Stop();
        if (language_)
            FreeLibrary(language_);
        DeleteTree(com::FromAnsi(root_));
    }

    // Opens `file` on this thread (which serves the hub) while `user` acts on the screen.
    HRESULT OpenWhile(const std::string& file, std::function<void()> user = {}) {
        std::thread acting;
        if (user)
            acting = std::thread(user);
        std::string path = file;
        const HRESULT hr = installer_->Open(path.data());
        if (acting.joinable())
            acting.join();
        return hr;
    }

    // A path on the device, as the PC sees it.
    std::string Device(const char* path) const { return root_ + "\\devices\\Dev1\\" + path; }

    std::string root_;
    HMODULE language_ = nullptr;
    ServedHub served_;
    com::ComPtr<Installer> installer_;
};

} // namespace tv::test
