// The device object's transfers against the device emulator: a PC folder tree imported and
// exported back, copies on the device, the command sequences the device receives, the results of
// cancelled and failed transfers, and the overwrite questions answered through the UI.
#include "EmulatorSession.h"
#include "LangIds.h"
#include "TransferSequences.h"
#include "TransferSupport.h"
#include "UiHarness.h"
#include "ZvDevice15.h"
#include "ZvPort15.h"

#include <gtest/gtest.h>

#include <future>
#include <sstream>

namespace devlink15 {
namespace {

using test::PluggedDevice;
using tv::com::ComPtr;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The transfers never ask for associations.
class NoAssociations : public tv::com::ComObject<NoAssociations, IZvAssocMgr> {
  public:
    STDMETHODIMP DoVerb(LPSTR, long) override { return E_NOTIMPL; }
    STDMETHODIMP GetAssociation(LPSTR, ZVASSOCIATION*) override { return E_NOTIMPL; }
    STDMETHODIMP GetContextMenuID(LPSTR, long*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAssociations(long, IZvEnumAssociations**) override { return E_NOTIMPL; }
    STDMETHODIMP Open(LPSTR) override { return E_NOTIMPL; }
};

class RecordingCallback : public tv::com::ComObject<RecordingCallback, IZvFileOperationCallback> {
  public:
    STDMETHODIMP OnOperationComplete() override { return S_OK; }
    STDMETHODIMP OnItemComplete(LPSTR item, LPSTR error, long code) override {
        completed.push_back(std::string(item ? item : "") + "|" + (error ? error : "") + "|" +
                            std::to_string(code));
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR, long) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, long) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR info) override {
        infos.emplace_back(info ? info : "");
        return S_OK;
    }
    std::vector<std::string> completed;
    std::vector<std::string> infos;
};

class TransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_EMULATOR();
        Plug("");
    }
    void TearDown() override { Unplug(); }

    void Plug(const std::string& extra) {
        device_ = std::make_unique<PluggedDevice>(3, "T15XFER00001", "X000031", extra);
        ASSERT_GE(device_->Number(), 0);
        ComPtr<ZvPort15> port;
        ComPtr<NoAssociations> assoc;
        ASSERT_EQ(tv::com::MakeComObject(port), S_OK);
        ASSERT_EQ(tv::com::MakeComObject(assoc), S_OK);
        ASSERT_EQ(ZvDevice15::CreateWith(port.Get(), assoc.Get(), zv_), S_OK);
        zv_->SetStrId("@" + device_->ShortId());
        ASSERT_EQ(zv_->ConnectPort(device_->Number()), S_OK);
        zv_->SetCancelEvent(&cancel_);
        zv_->put_EnableUI(0);
        zv_->ResetDeviceState(1);
        ASSERT_EQ(tv::com::MakeComObject(callback_), S_OK);
        main_ = ZvDevice15::LangString(IDS_DEVICE15_MAIN_LABEL);
        ASSERT_FALSE(main_.empty());
    }
    void Unplug() {
        if (zv_)
            zv_->ResetDeviceState(-2);
        zv_.Reset();
        device_.reset();
    }

    // A fresh PC folder and device folder for one test.
    std::string PcFolder(const std::string& name) {
        const std::string path = Narrow(test::SharedEmulator().ScratchWindowsPath()) + "\\" + name;
        CreateDirectoryA(path.c_str(), nullptr);
        return path;
    }
    void DeviceFolder(const std::string& devicePath) {
        std::string reply;
        ASSERT_EQ(zv_->SendCommand("mkdir $pipe=15 \"" + devicePath + "\" ", reply), S_OK);
    }
    std::wstring OnDevice(const std::string& relative) {
        std::string windows = relative;
        for (char& c : windows)
            if (c == '/')
                c = '\\';
        return device_->Volume() + test::Widen(windows);
    }

    // The commands the device received since the last call, without the log's indexes.
    std::vector<std::string> Log() {
        std::istringstream answer(device_->Request("log"));
        std::string line;
        std::getline(answer, line); // "ok <n>"
        std::vector<std::string> lines;
        while (std::getline(answer, line)) {
            const size_t blank = line.find(' ');
            lines.push_back(line.substr(blank + 1));
        }
        device_->Request("clearlog");
        return lines;
    }

    long Import(const std::string& pc, const std::string& hub, std::string* error = nullptr) {
        unsigned char text[260] = {};
        const long result = zv_->ImportFileItem(const_cast<LPSTR>(pc.c_str()), const_cast<LPSTR>(hub.c_str()),
                                                callback_.Get(), 260, text);
        if (error)
            *error = reinterpret_cast<char*>(text);
        return result;
    }
    long Export(const std::string& hub, const std::string& pc, std::string* error = nullptr) {
        unsigned char text[260] = {};
        const long result = zv_->ExportFileItem(const_cast<LPSTR>(hub.c_str()), const_cast<LPSTR>(pc.c_str()),
                                                callback_.Get(), 260, text);
        if (error)
            *error = reinterpret_cast<char*>(text);
        return result;
    }
    long Copy(const std::string& from, const std::string& to, std::string* error = nullptr) {
        unsigned char text[260] = {};
        const long result = zv_->CopyFileItem(const_cast<LPSTR>(from.c_str()), const_cast<LPSTR>(to.c_str()),
                                              callback_.Get(), 260, text);
        if (error)
            *error = reinterpret_cast<char*>(text);
        return result;
    }

    tv::com::ComApartment com_;
    std::unique_ptr<PluggedDevice> device_;
    ComPtr<ZvDevice15> zv_;
    ComPtr<RecordingCallback> callback_;
    tv::com::UniqueHandle cancelEvent_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE cancel_ = cancelEvent_.Get();
    std::string main_;
};

std::string Text(UINT id) {
    return ZvDevice15::LangString(id);
}

// A file's modification time set from, and read as, local calendar time (what the device lists).
bool SetLocalWriteTime(const std::wstring& path, const SYSTEMTIME& local) {
    FILETIME localTime{}, utc{};
    if (!SystemTimeToFileTime(&local, &localTime) || !LocalFileTimeToFileTime(&localTime, &utc))
        return false;
    tv::com::UniqueFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && SetFileTime(file.Get(), nullptr, nullptr, &utc);
}
std::string LocalWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME local{};
    SYSTEMTIME time{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &time))
        return "none";
    char text[40];
    snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
    return text;
}

TEST_F(TransferTest, ImportsAFolderTreeAndExportsItBackUnchanged) {
    const std::string pc = PcFolder("tree");
    const std::string b = pc + "\\b";
    CreateDirectoryA(b.c_str(), nullptr);
    CreateDirectoryA((b + "\\sub").c_str(), nullptr);
    const auto f = test::Pattern(600, 1);
    const auto g = test::Pattern(3000, 2);
    ASSERT_TRUE(test::WriteWholeFile(test::Widen(b + "\\f.txt"), f));
    ASSERT_TRUE(test::WriteWholeFile(test::Widen(b + "\\sub\\g.txt"), g));
    SetFileAttributesA((b + "\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    DeviceFolder("/default/x");
    Log();

    ASSERT_EQ(Import(b, main_ + "\\x\\b"), 0);
    // The folder first, then its entries in the order the PC lists them, then the subfolder's;
    // each item with its listing and attribute commands around the transfer.
    EXPECT_EQ(Log(), test::TreeImportCommands(b, "/default/x/b", 600, "RH", 3000));
    EXPECT_EQ(callback_->completed,
              (std::vector<std::string>{"/default/x/b/f.txt||0", "/default/x/b/sub/g.txt||0"}));
    std::vector<uint8_t> onDevice;
    ASSERT_TRUE(test::ReadWholeFile(OnDevice("/x/b/sub/g.txt"), onDevice));
    EXPECT_EQ(onDevice, g);

    // Back to the PC under another name: the folder keeps its device name, and the files the
    // times the device lists for them (to the minute).
    ASSERT_TRUE(SetLocalWriteTime(OnDevice("/x/b/f.txt"), {2003, 2, 0, 1, 4, 5, 30, 0}));
    ASSERT_TRUE(SetLocalWriteTime(OnDevice("/x/b/sub/g.txt"), {2010, 12, 0, 31, 23, 59, 59, 0}));
    const std::string out = PcFolder("out");
    callback_->completed.clear();
    ASSERT_EQ(Export(main_ + "\\x\\b", out + "\\other"), 0);
    std::vector<uint8_t> back;
    ASSERT_TRUE(test::ReadWholeFile(test::Widen(out + "\\b\\f.txt"), back));
    EXPECT_EQ(back, f);
    ASSERT_TRUE(test::ReadWholeFile(test::Widen(out + "\\b\\sub\\g.txt"), back));
    EXPECT_EQ(back, g);
    const DWORD attributes = GetFileAttributesA((out + "\\b\\f.txt").c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(LocalWriteTime(out + "\\b\\f.txt"), "2003-02-01 04:05:00");
    EXPECT_EQ(LocalWriteTime(out + "\\b\\sub\\g.txt"), "2010-12-31 23:59:00");
    // Each file is reported under its own device path.
    EXPECT_EQ(callback_->completed,
              (std::vector<std::string>{"/default/x/b/f.txt||0", "/default/x/b/sub/g.txt||0"}));

    // A single file; an existing read-only PC file is replaced.
    ASSERT_EQ(Export(main_ + "\\x\\b\\sub\\g.txt", out + "\\b\\f.txt"), 0);
    ASSERT_TRUE(test::ReadWholeFile(test::Widen(out + "\\b\\f.txt"), back));
    EXPECT_EQ(back, g);
    EXPECT_EQ(LocalWriteTime(out + "\\b\\f.txt"), "2010-12-31 23:59:00");
    SetFileAttributesA((b + "\\f.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA((out + "\\b\\f.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    std::string error;
    EXPECT_EQ(Export(main_ + "\\x\\missing.txt", out + "\\m.txt", &error), 23);
    EXPECT_EQ(error, Text(IDS_TRANSFER_SOURCE_MISSING));
}

// A device name holding a backslash would climb out of the PC folder the tree is exported to
// (".." between backslashes): the export writes nothing and says why.
TEST_F(TransferTest, AFolderExportWithANameThatCannotNameAPcFileWritesNothing) {
    DeviceFolder("/default/y");
    DeviceFolder("/default/y/t");
    ASSERT_TRUE(test::WriteWholeFile(OnDevice("/y/t/f.txt"), test::Pattern(100, 5)));
    DeviceFolder("/default/y/t/..\\..\\climbed");
    const std::string out = PcFolder("outclimb");
    const std::string below = PcFolder("outclimb\\in");
    RemoveDirectoryA((out + "\\climbed").c_str());
    std::string error;
    EXPECT_EQ(Export(main_ + "\\y\\t", below + "\\t", &error), 17);
    EXPECT_EQ(error, Text(IDS_HUB_BAD_PC_NAME));
    EXPECT_EQ(GetFileAttributesA((out + "\\climbed").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA((below + "\\t").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TransferTest, CopiesAndMovesOnTheDevice) {
    DeviceFolder("/default/docs");
    DeviceFolder("/default/docs/old");
    DeviceFolder("/default/keep");
    ASSERT_TRUE(test::WriteWholeFile(OnDevice("/docs/a.txt"), test::Pattern(700, 3)));
    ASSERT_TRUE(test::WriteWholeFile(OnDevice("/docs/old/b.txt"), test::Pattern(50, 4)));
    Log();

    // The last element of the destination is not used for a folder.
    ASSERT_EQ(Copy(main_ + "\\docs", main_ + "\\keep\\other"), 0);
    EXPECT_EQ(Log(), test::DocsCopyCommands());
    // Each file's report and the final one name the copied folder.
    EXPECT_EQ(callback_->completed,
              (std::vector<std::string>{"/default/docs||0", "/default/docs||0", "/default/docs||0"}));
    std::vector<uint8_t> copied;
    ASSERT_TRUE(test::ReadWholeFile(OnDevice("/keep/docs/old/b.txt"), copied));
    EXPECT_EQ(copied, test::Pattern(50, 4));

    // A move is a copy followed by the deletion of the source.
    ASSERT_EQ(Copy(main_ + "\\docs\\a.txt", main_ + "\\keep\\moved.txt"), 0);
    unsigned char text[260] = {};
    EXPECT_EQ(zv_->DeleteFileItem(const_cast<LPSTR>((main_ + "\\docs\\a.txt").c_str()), 260, text), S_OK);
    EXPECT_TRUE(test::FileExists(OnDevice("/keep/moved.txt")));
    EXPECT_FALSE(test::FileExists(OnDevice("/docs/a.txt")));

    // Unknown volumes and failing copies.
    std::string error;
    EXPECT_EQ(Copy("Nowhere\\a.txt", main_ + "\\keep\\a.txt", &error), 21);
    EXPECT_EQ(Copy(main_ + "\\keep\\moved.txt", main_ + "\\missing\\a.txt", &error), 17);
    EXPECT_EQ(error, Text(IDS_TRANSFER_FAILED));
}

TEST_F(TransferTest, CancelledTransfersEndWith12AndAFolderCopyAsDone) {
    const std::string pc = PcFolder("cancel");
    ASSERT_TRUE(test::WriteWholeFile(test::Widen(pc + "\\big.bin"), test::Pattern(20000, 5)));
    DeviceFolder("/default/c");
    DeviceFolder("/default/c/sub");
    ASSERT_TRUE(test::WriteWholeFile(OnDevice("/c/sub/big.bin"), test::Pattern(20000, 6)));
    SetEvent(cancel_);

    std::string error;
    EXPECT_EQ(Import(pc + "\\big.bin", main_ + "\\c\\big.bin", &error), 12);
    EXPECT_EQ(error, Text(IDS_TRANSFER_CANCELLED));
    EXPECT_EQ(Export(main_ + "\\c\\sub\\big.bin", pc + "\\back.bin", &error), 12);
    EXPECT_EQ(error, Text(IDS_TRANSFER_CANCELLED));
    EXPECT_FALSE(test::FileExists(test::Widen(pc + "\\back.bin")));

    // A folder copy looks at the event before each file, copies none, tells the user and ends as
    // done with the folder's final report.
    Log();
    callback_->completed.clear();
    callback_->infos.clear();
    error = "x";
    EXPECT_EQ(Copy(main_ + "\\c\\sub", main_ + "\\c\\copy", &error), 0);
    EXPECT_EQ(error, "");
    for (const std::string& command : Log())
        EXPECT_NE(command.rfind("cp ", 0), 0u) << command;
    EXPECT_EQ(callback_->completed, std::vector<std::string>{"/default/c/sub||0"});
    ASSERT_FALSE(callback_->infos.empty());
    EXPECT_EQ(callback_->infos.back(), Text(IDS_TRANSFER_CANCELLED));
    ResetEvent(cancel_);
}

TEST_F(TransferTest, DiagnosesFailedImports) {
    const std::string pc = PcFolder("fail");
    ASSERT_TRUE(test::WriteWholeFile(test::Widen(pc + "\\small.bin"), test::Pattern(1000, 7)));
    std::string error;

    // The device refuses the listing, the attribute commands and the transfer: there is room.
    device_->Request("fault refuse=4");
    EXPECT_EQ(Import(pc + "\\small.bin", main_ + "\\small.bin", &error), 17);
    EXPECT_EQ(error, Text(IDS_TRANSFER_FAILED));
    device_->Request("clear");

    // No folder of that name: the transfer cannot start.
    EXPECT_EQ(Import(pc + "\\small.bin", main_ + "\\nofolder\\small.bin", &error), 17);

    EXPECT_EQ(Import(pc + "\\missing.bin", main_ + "\\m.bin", &error), 19);
    EXPECT_EQ(error, transfer::Text(IDS_TRANSFER_PC_ITEM_UNREADABLE, pc + "\\missing.bin"));
    EXPECT_EQ(Import(pc + "\\small.bin", main_ + "\\a\"b.bin", &error), 26);

    // A small medium has no room for the file.
    Unplug();
    Plug("capacity=4096");
    ASSERT_TRUE(test::WriteWholeFile(test::Widen(pc + "\\large.bin"), test::Pattern(10000, 8)));
    EXPECT_EQ(Import(pc + "\\large.bin", main_ + "\\large.bin", &error), 16);
    EXPECT_EQ(error, Text(IDS_TRANSFER_NO_ROOM));

    // The device is gone.
    device_.reset();
    EXPECT_EQ(Import(pc + "\\small.bin", main_ + "\\small.bin", &error), 1);
}

// What a question was answered with: whether it came, and whether its for-all box was enabled.
struct Answered {
    bool came = false;
    bool forAllEnabled = false;
};

// Answers the next question with that title: optionally ticks "for all", then presses the button,
// or the window's close box for button 0.
std::future<Answered> Answer(const wchar_t* title, int button, bool forAll,
                             const std::wstring& screenshot = {}) {
    return std::async(std::launch::async, [=] {
        // The question comes after the listing; a loaded machine may take its time.
        HWND dialog = tv::test::WaitForWindow(nullptr, title, 120000);
        if (!dialog)
            return Answered{};
        const bool forAllEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_CONFIRM_FOR_ALL)) != FALSE;
        if (forAll)
            SendMessageW(GetDlgItem(dialog, IDC_CONFIRM_FOR_ALL), BM_SETCHECK, BST_CHECKED, 0);
        if (!screenshot.empty())
            tv::test::SaveScreenshot(screenshot);
        if (button == 0)
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            tv::test::ClickButton(dialog, button);
        return Answered{true, forAllEnabled};
    });
}

TEST_F(TransferTest, ForAllAnswersOfTheOverwriteQuestion) {
    const std::string pc = PcFolder("ask");
    DeviceFolder("/default/ask");
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) {
        ASSERT_TRUE(test::WriteWholeFile(test::Widen(pc + "\\" + name), test::Pattern(100, 9)));
        ASSERT_TRUE(test::WriteWholeFile(OnDevice(std::string("/ask/") + name), test::Pattern(10, 10)));
    }
    device_->Request("attr path=/default/ask/3.txt letters=s");
    zv_->put_EnableUI(1);

    // Keep for all on the first item: the second is kept without a question, the system item
    // is still asked about.
    zv_->ResetDeviceState(3);
    auto first =
        Answer(L"Confirm File Replace", 2, true, test::SharedEmulator().ScratchWindowsPath() + L"\\ask.bmp");
    EXPECT_EQ(Import(pc + "\\1.txt", main_ + "\\ask\\1.txt"), 0);
    EXPECT_TRUE(first.get().forAllEnabled);
    Log();
    EXPECT_EQ(Import(pc + "\\2.txt", main_ + "\\ask\\2.txt"), 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"ls $pipe=15 -L \"/default/ask/2.txt\""}));
    auto system = Answer(L"Confirm System File Replace", 1, false);
    EXPECT_EQ(Import(pc + "\\3.txt", main_ + "\\ask\\3.txt"), 0);
    EXPECT_TRUE(system.get().came);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(test::ReadWholeFile(OnDevice("/ask/1.txt"), bytes));
    EXPECT_EQ(bytes.size(), 10u);
    ASSERT_TRUE(test::ReadWholeFile(OnDevice("/ask/3.txt"), bytes));
    EXPECT_EQ(bytes.size(), 100u);

    // A new operation forgets the answers; for one item the box is disabled; the close box keeps
    // the item, Replace replaces it.
    zv_->ResetDeviceState(1);
    auto closed = Answer(L"Confirm File Replace", 0, false);
    EXPECT_EQ(Import(pc + "\\2.txt", main_ + "\\ask\\2.txt"), 0);
    const Answered closedAnswer = closed.get();
    EXPECT_TRUE(closedAnswer.came);
    EXPECT_FALSE(closedAnswer.forAllEnabled);
    ASSERT_TRUE(test::ReadWholeFile(OnDevice("/ask/2.txt"), bytes));
    EXPECT_EQ(bytes.size(), 10u);
    auto single = Answer(L"Confirm File Replace", 1, false);
    EXPECT_EQ(Import(pc + "\\2.txt", main_ + "\\ask\\2.txt"), 0);
    EXPECT_TRUE(single.get().came);
    ASSERT_TRUE(test::ReadWholeFile(OnDevice("/ask/2.txt"), bytes));
    EXPECT_EQ(bytes.size(), 100u);

    // A copy on the device asks the same way: replace for all.
    zv_->ResetDeviceState(2);
    auto onDevice = Answer(L"Confirm File Replace", 1, true);
    EXPECT_EQ(Copy(main_ + "\\ask\\2.txt", main_ + "\\ask\\1.txt"), 0);
    EXPECT_TRUE(onDevice.get().forAllEnabled);
    ASSERT_TRUE(test::ReadWholeFile(OnDevice("/ask/1.txt"), bytes));
    EXPECT_EQ(bytes.size(), 100u);
}

std::future<Answered> AnswerDelete(int button, bool forAll) {
    return Answer(L"Confirm Read-only Delete", button, forAll);
}

TEST_F(TransferTest, ReadOnlyItemsAreAskedAboutBeforeTheyAreDeletedOrRenamed) {
    DeviceFolder("/default/ro");
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt", "plain.txt"})
        ASSERT_TRUE(test::WriteWholeFile(OnDevice(std::string("/ro/") + name), test::Pattern(10, 4)));
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt"})
        device_->Request(std::string("attr path=/default/ro/") + name + " letters=R");
    const auto Delete = [&](const std::string& name) {
        unsigned char error[260] = {};
        return zv_->DeleteFileItem(const_cast<LPSTR>((main_ + "\\ro\\" + name).c_str()), 260, error);
    };
    const auto Present = [&](const std::string& name) { return test::FileExists(OnDevice("/ro/" + name)); };
    zv_->put_EnableUI(1);

    // Keep, then the close box: both leave the item; delete removes it.
    zv_->ResetDeviceState(1);
    auto keep = AnswerDelete(2, false);
    EXPECT_EQ(Delete("1.txt"), S_OK);
    EXPECT_TRUE(keep.get().came);
    EXPECT_TRUE(Present("1.txt"));
    auto closed = AnswerDelete(0, false);
    EXPECT_EQ(Delete("1.txt"), S_OK);
    EXPECT_TRUE(closed.get().came);
    EXPECT_TRUE(Present("1.txt"));
    long bits = 0;
    EXPECT_EQ(zv_->ReadItemAttributes("/default/ro/1.txt", &bits), S_OK);
    EXPECT_EQ(bits, 4) << "a kept item keeps its attributes";
    auto remove = AnswerDelete(1, false);
    EXPECT_EQ(Delete("1.txt"), S_OK);
    EXPECT_TRUE(remove.get().came);
    EXPECT_FALSE(Present("1.txt"));

    // Keep for all: the next read-only item is kept without a question, an ordinary one goes.
    zv_->ResetDeviceState(3);
    auto keepAll = AnswerDelete(2, true);
    EXPECT_EQ(Delete("2.txt"), S_OK);
    EXPECT_TRUE(keepAll.get().came);
    Log();
    EXPECT_EQ(Delete("3.txt"), S_OK);
    EXPECT_EQ(Log(), std::vector<std::string>{"ls $pipe=15 -L \"/default/ro/3.txt\""});
    EXPECT_TRUE(Present("2.txt"));
    EXPECT_TRUE(Present("3.txt"));
    EXPECT_EQ(Delete("plain.txt"), S_OK);
    EXPECT_FALSE(Present("plain.txt"));

    // A new operation forgets that answer: delete for all removes the rest without more questions.
    zv_->ResetDeviceState(2);
    auto deleteAll = AnswerDelete(1, true);
    EXPECT_EQ(Delete("2.txt"), S_OK);
    EXPECT_TRUE(deleteAll.get().came);
    EXPECT_EQ(Delete("3.txt"), S_OK);
    EXPECT_FALSE(Present("2.txt"));
    EXPECT_FALSE(Present("3.txt"));

    // Rename of a read-only item: No keeps it where it is, Yes moves it.
    const auto Rename = [&](const std::string& from, const std::string& to) {
        unsigned char error[260] = {};
        return zv_->RenameFileItem(const_cast<LPSTR>((main_ + "\\ro\\" + from).c_str()),
                                   const_cast<LPSTR>((main_ + "\\ro\\" + to).c_str()), 260, error);
    };
    const auto AnswerRename = [](int button) {
        return std::async(std::launch::async, [=] {
            HWND box = tv::test::WaitForWindow(L"#32770", L"Confirm Read-only Rename", 120000);
            std::wstring text(512, L'\0');
            if (box)
                text.resize(GetDlgItemTextW(box, 0xFFFF, text.data(), static_cast<int>(text.size())));
            return box && tv::test::ClickButton(box, button) ? text : std::wstring(L"<no box>");
        });
    };
    zv_->ResetDeviceState(1);
    auto no = AnswerRename(IDNO);
    EXPECT_EQ(Rename("4.txt", "5.txt"), S_OK);
    EXPECT_NE(no.get().find(L"4.txt"), std::wstring::npos);
    EXPECT_TRUE(Present("4.txt"));
    EXPECT_FALSE(Present("5.txt"));
    auto yes = AnswerRename(IDYES);
    EXPECT_EQ(Rename("4.txt", "5.txt"), S_OK);
    EXPECT_NE(yes.get(), L"<no box>");
    EXPECT_FALSE(Present("4.txt"));
    EXPECT_TRUE(Present("5.txt"));

    // Without the UI switch nothing is asked: the read-only item is renamed and deleted.
    zv_->put_EnableUI(0);
    EXPECT_EQ(Rename("5.txt", "6.txt"), S_OK);
    EXPECT_TRUE(Present("6.txt"));
    EXPECT_EQ(Delete("6.txt"), S_OK);
    EXPECT_FALSE(Present("6.txt"));
}

// The user option that keeps a PC file's read-only attribute off the device; the other
// attributes are carried either way.
TEST_F(TransferTest, TheUserOptionKeepsReadOnlyOffTheDevice) {
    const std::string pc = PcFolder("options");
    const std::string file = pc + "\\ro.txt";
    ASSERT_TRUE(test::WriteWholeFile(test::Widen(file), test::Pattern(20, 3)));
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    tv::com::UniqueHKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Zelvan\\Tavrilon", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    DWORD saved = 0, size = sizeof(saved);
    const bool hadValue =
        RegQueryValueExW(key.Get(), L"TvOptions", nullptr, nullptr, reinterpret_cast<BYTE*>(&saved), &size) ==
        ERROR_SUCCESS;
    const auto SetOptions = [&](DWORD value) {
        return RegSetValueExW(key.Get(), L"TvOptions", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof(value)) == ERROR_SUCCESS;
    };

    long without = -1, with = -1;
    if (SetOptions(3)) { // other bits set, not the one that keeps read-only off
        EXPECT_EQ(Import(file, main_ + "\\plain.txt"), 0);
        EXPECT_EQ(zv_->ReadItemAttributes("/default/plain.txt", &without), S_OK);
    }
    if (SetOptions(4 | 3)) {
        EXPECT_EQ(Import(file, main_ + "\\omitted.txt"), 0);
        EXPECT_EQ(zv_->ReadItemAttributes("/default/omitted.txt", &with), S_OK);
    }
    if (hadValue)
        SetOptions(saved);
    else
        RegDeleteValueW(key.Get(), L"TvOptions");
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(without, 4 | 1);
    EXPECT_EQ(with, 1);
}

} // namespace
} // namespace devlink15
