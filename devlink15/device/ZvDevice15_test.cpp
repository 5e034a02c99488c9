// The device object against the device emulator: identity and switches, listings of volumes and
// folders, item, volume and device information, and delete, rename, create folder and
// attributes, each checked against the console commands the emulator logged.
#include "Device15Ids.h"
#include "EmulatorSession.h"
#include "ZvDevice15.h"
#include "ZvPort15.h"

#include "UiHarness.h"
#include <gtest/gtest.h>
#include <future>

#include <cstring>
#include <filesystem>
#include <sstream>

namespace devlink15 {
namespace {

using test::PluggedDevice;
using tv::com::ComPtr;

constexpr int kSlot = 2;

struct ComInit {
    ComInit() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComInit() { CoUninitialize(); }
};

// Knows ".txt" only, like an association manager with one handler.
class FakeAssocMgr : public tv::com::ComObject<FakeAssocMgr, IZvAssocMgr> {
  public:
    STDMETHODIMP DoVerb(LPSTR, long) override { return E_NOTIMPL; }
    STDMETHODIMP GetAssociation(LPSTR strItem, ZVASSOCIATION* pItem) override {
        if (!strItem || std::strcmp(strItem, ".txt") != 0)
            return E_FAIL;
        *pItem = {};
        pItem->strDescription = Copy("Text Document");
        pItem->strExtension = Copy(".txt");
        pItem->strIconSrc = Copy("notepad.exe");
        pItem->dwIconIdx = 2;
        return S_OK;
    }
    STDMETHODIMP GetContextMenuID(LPSTR, long*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAssociations(long, IZvEnumAssociations**) override { return E_NOTIMPL; }
    STDMETHODIMP Open(LPSTR) override { return E_NOTIMPL; }

  private:
    static LPSTR Copy(const char* text) {
        auto* copy = static_cast<char*>(CoTaskMemAlloc(std::strlen(text) + 1));
        std::strcpy(copy, text);
        return copy;
    }
};

class ItemsInfoRecorder : public tv::com::ComObject<ItemsInfoRecorder, IZvItemsInfoCallback> {
  public:
    STDMETHODIMP OnOperationStart() override {
        events.push_back("start");
        return S_OK;
    }
    STDMETHODIMP OnOperationProgress(ITEMSINFO info) override {
        events.push_back("progress " + std::to_string(info.folders) + " " + std::to_string(info.files) + " " +
                         std::to_string(info.nTotalSize));
        return S_OK;
    }
    STDMETHODIMP OnOperationComplete(LPSTR text) override {
        events.push_back(std::string("complete ") + (text ? text : "(null)"));
        return S_OK;
    }
    std::vector<std::string> events;
};

struct Item {
    ZVFILEITEM raw{};
    std::string name, desc, icon;
};

// Every record of an enumerator; the strings are freed as the receiver must.
std::vector<Item> Drain(IZvEnumFileItems* items) {
    std::vector<Item> all;
    for (;;) {
        ZVFILEITEM raw{};
        long fetched = 0;
        if (items->Next(1, &raw, &fetched) != S_OK || fetched != 1)
            break;
        Item item{raw, raw.strName ? raw.strName : "", raw.strDesc ? raw.strDesc : "",
                  raw.strIconFile ? raw.strIconFile : ""};
        CoTaskMemFree(raw.strName);
        CoTaskMemFree(raw.strDesc);
        CoTaskMemFree(raw.strIconFile);
        all.push_back(std::move(item));
    }
    return all;
}

const Item* Find(const std::vector<Item>& items, const std::string& name) {
    for (const Item& item : items)
        if (item.name == name)
            return &item;
    return nullptr;
}

std::wstring ExtraVolumeFolder() {
    std::wstring main = test::SharedEmulator().VolumeWindowsPath(kSlot);
    return main.substr(0, main.rfind(L'\\')) + L"\\b";
}

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_EMULATOR();
        main_ = ZvDevice15::LangString(IDS_DEVICE15_MAIN_LABEL);
        ASSERT_FALSE(main_.empty()) << "the language library is missing";
        // Fresh volumes: the main one and the extra volume "b" shown as "Card".
        std::error_code ignored;
        std::filesystem::remove_all(test::SharedEmulator().VolumeWindowsPath(kSlot), ignored);
        std::filesystem::remove_all(ExtraVolumeFolder(), ignored);
        std::filesystem::create_directories(ExtraVolumeFolder());
        plugged_ = std::make_unique<PluggedDevice>(kSlot, "DEV150000042", "D000042", "labels=b:Card");
        ASSERT_GE(plugged_->Number(), 0);

        ComPtr<ZvPort15> port;
        ASSERT_EQ(tv::com::MakeComObject(port), S_OK);
        ComPtr<FakeAssocMgr> assoc;
        ASSERT_EQ(tv::com::MakeComObject(assoc), S_OK);
        ASSERT_EQ(ZvDevice15::CreateWith(port.Get(), assoc.Get(), device_), S_OK);
        ASSERT_EQ(device_->ConnectPort(plugged_->Number()), S_OK);
        device_->put_EnableUI(0);
    }
    void TearDown() override {
        if (device_)
            device_->ResetDeviceState(-2);
        device_.Reset();
        plugged_.reset();
    }

    void WriteFile(const std::string& relative, size_t size) {
        ASSERT_TRUE(test::WriteWholeFile(plugged_->Volume() + L"\\" + test::Widen(relative), test::Pattern(size, 7)));
    }
    void MakeFolder(const std::string& relative) {
        ASSERT_TRUE(CreateDirectoryW((plugged_->Volume() + L"\\" + test::Widen(relative)).c_str(), nullptr));
    }
    bool Exists(const std::string& relative) {
        return GetFileAttributesW((plugged_->Volume() + L"\\" + test::Widen(relative)).c_str()) !=
               INVALID_FILE_ATTRIBUTES;
    }
    // The console commands received since the last call, without their indexes.
    std::vector<std::string> TakeLog() {
        std::istringstream answer(plugged_->Request("log"));
        plugged_->Request("clearlog");
        std::vector<std::string> lines;
        std::string line;
        std::getline(answer, line); // "ok <n>"
        while (std::getline(answer, line))
            lines.push_back(line.substr(line.find(' ') + 1));
        return lines;
    }
    std::vector<Item> List(const std::string& path, long type = 12) {
        ComPtr<IZvEnumFileItems> items;
        EXPECT_EQ(device_->EnumFileItems(const_cast<LPSTR>(path.c_str()), type, &items), S_OK) << path;
        return items ? Drain(items.Get()) : std::vector<Item>{};
    }
    std::string P(const std::string& rest) const { return main_ + "\\" + rest; }

    ComInit com_;
    std::string main_;
    std::unique_ptr<PluggedDevice> plugged_;
    ComPtr<ZvDevice15> device_;
};

TEST_F(DeviceTest, AnswersIdentitySwitchesAndThePassThrough) {
    device_->SetNameInMemory("Pocket");
    unsigned char buffer[16] = "unchanged";
    EXPECT_EQ(device_->GetName(6, buffer), E_INVALIDARG);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "unchanged");
    EXPECT_EQ(device_->GetName(7, buffer), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "Pocket");

    long model = 0, submodel = 1, attributes = 1;
    EXPECT_EQ(device_->GetVersion(&model, &submodel), S_OK);
    EXPECT_EQ(model, 21);
    EXPECT_EQ(submodel, 0);
    EXPECT_EQ(device_->GetVersion(nullptr, &submodel), E_POINTER);
    EXPECT_EQ(device_->GetAttributes(&attributes), S_OK);
    EXPECT_EQ(attributes, 0);

    CAUUID pages{};
    EXPECT_EQ(device_->GetPropPageID(1, &pages), E_UNEXPECTED);
    EXPECT_EQ(device_->GetPropPageID(8, nullptr), E_POINTER);
    ASSERT_EQ(device_->GetPropPageID(4, &pages), S_OK);
    EXPECT_EQ(pages.cElems, 1u);
    EXPECT_EQ(pages.pElems[0].Data1, 0x682fe9f8u);
    CoTaskMemFree(pages.pElems);

    ComPtr<IUnknown> other;
    EXPECT_EQ(device_->QueryInterface(__uuidof(IZvDeviceCancel), reinterpret_cast<void**>(&other)), S_OK);
    EXPECT_EQ(device_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&other)), E_NOINTERFACE);

    long value = 0;
    EXPECT_EQ(device_->GetDeviceAuxData(nullptr), E_POINTER);
    device_->SetDeviceAuxData(77);
    EXPECT_EQ(device_->GetDeviceAuxData(&value), S_OK);
    EXPECT_EQ(value, 77);
    device_->put_EnableUI(5);
    EXPECT_EQ(device_->get_EnableUI(&value), S_OK);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(device_->get_EnableUI(nullptr), E_INVALIDARG);

    TakeLog();
    long length = 0;
    LPSTR reply = nullptr;
    EXPECT_EQ(device_->Command(const_cast<LPSTR>("sysinfo "), nullptr, &reply), E_POINTER);
    ASSERT_EQ(device_->Command(const_cast<LPSTR>("sysinfo "), &length, &reply), S_OK);
    EXPECT_NE(std::string(reply).find("device_id: DEV150000042"), std::string::npos) << reply;
    EXPECT_EQ(length, static_cast<long>(std::strlen(reply)));
    CoTaskMemFree(reply);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"sysinfo $pipe=15 "});
}

TEST_F(DeviceTest, ListsVolumesAndFoldersAndHandsOutFreshRecords) {
    WriteFile("a.txt", 1000);
    WriteFile("x.app", 10);
    MakeFolder("Games");
    WriteFile("Games\\g.txt", 5);
    TakeLog();

    const std::vector<Item> root = List("");
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[0].name, main_);
    EXPECT_EQ(root[0].raw.type, 2);
    EXPECT_EQ(root[0].raw.hint, 9);
    EXPECT_EQ(root[0].raw.nSize, 64 * 1024 * 1024);
    EXPECT_EQ(root[0].raw.nIconIndex, -IDI_DEVICE15_VOLUME);
    EXPECT_EQ(root[1].name, "Card");
    EXPECT_EQ(root[1].desc, ZvDevice15::LangString(IDS_DEVICE15_VOLUME_DESC));
    const auto log = TakeLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "sysinfo $pipe=15 \"/default\""), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "ls $pipe=15 /*"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "sysinfo $pipe=15 \"/b\""), log.end());

    const std::vector<Item> items = List(main_);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"ls $pipe=15 -L \"/default/*\" "});
    ASSERT_EQ(items.size(), 3u);
    const Item* text = Find(items, "a.txt");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->raw.type, 8);
    EXPECT_EQ(text->raw.nSize, 1000);
    EXPECT_EQ(text->desc, "Text Document");
    EXPECT_EQ(text->icon, "notepad.exe");
    EXPECT_NE(text->raw.nTimeHigh, 0);
    const Item* app = Find(items, "x.app");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->icon, "SystemIconList.app");
    EXPECT_EQ(app->raw.nIconIndex, 1);
    EXPECT_EQ(app->desc, "Zelvan File");
    const Item* games = Find(items, "Games");
    ASSERT_NE(games, nullptr);
    EXPECT_EQ(games->raw.type, 4);
    EXPECT_EQ(games->raw.hint, 9);
    EXPECT_EQ(games->icon, "shell32.dll");
    EXPECT_EQ(games->raw.nIconIndex, 3);

    EXPECT_EQ(List(main_, 8).size(), 2u);
    const std::vector<Item> below = List(P("Games"), 8);
    ASSERT_EQ(below.size(), 1u);
    EXPECT_EQ(below[0].name, "g.txt");

    // Next, Skip, Reset and Clone.
    ComPtr<IZvEnumFileItems> e;
    ASSERT_EQ(device_->EnumFileItems(const_cast<LPSTR>(main_.c_str()), 12, &e), S_OK);
    ZVFILEITEM five[5]{};
    long fetched = -1;
    EXPECT_EQ(e->Next(5, nullptr, &fetched), E_INVALIDARG);
    EXPECT_EQ(e->Next(2, five, nullptr), E_POINTER);
    ASSERT_EQ(e->Next(2, five, &fetched), S_OK);
    EXPECT_EQ(fetched, 2);
    ComPtr<IZvEnumFileItems> clone;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    ASSERT_TRUE(clone);
    EXPECT_EQ(Drain(clone.Get()).size(), 1u); // the clone goes on from the same place
    e->Reset();
    ZVFILEITEM again{};
    ASSERT_EQ(e->Next(1, &again, nullptr), S_OK);
    EXPECT_STREQ(again.strName, five[0].strName);
    EXPECT_NE(again.strName, five[0].strName); // a copy of its own for each receiver
    for (ZVFILEITEM* item : {&five[0], &five[1], &again}) {
        CoTaskMemFree(item->strName);
        CoTaskMemFree(item->strDesc);
        CoTaskMemFree(item->strIconFile);
    }
    EXPECT_EQ(e->Skip(100), S_OK);
    EXPECT_EQ(e->Next(1, five, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0);

    // An unknown volume is asked for as it stands; the device's refusal fails the listing.
    ComPtr<IZvEnumFileItems> none;
    EXPECT_EQ(device_->EnumFileItems(const_cast<LPSTR>("Nowhere"), 12, &none), E_FAIL);
    EXPECT_FALSE(none);
    EXPECT_EQ(device_->EnumFileItems(const_cast<LPSTR>("Card\\x\"y"), 12, &none), E_FAIL);
}

TEST_F(DeviceTest, ReportsItemsVolumeAndDeviceInformation) {
    WriteFile("a.txt", 1000);
    MakeFolder("Games");
    WriteFile("Games\\g.txt", 5);
    MakeFolder("Games\\Sub");
    WriteFile("Games\\Sub\\h.txt", 7);
    List(""); // learns the volumes

    ComPtr<ItemsInfoRecorder> recorder;
    ASSERT_EQ(tv::com::MakeComObject(recorder), S_OK);
    const std::string a = P("a.txt"), games = P("Games");
    LPSTR two[] = {const_cast<LPSTR>(a.c_str()), const_cast<LPSTR>(games.c_str())};
    TakeLog();
    EXPECT_EQ(device_->GetItemsInfo(2, 260, two, recorder.Get()), S_OK);
    // The recursive listing names Games itself and Sub: two folders.
    EXPECT_EQ(recorder->events,
              (std::vector<std::string>{"start", "progress 0 1 1000", "progress 2 3 1012", "complete "}));
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"ls $pipe=15 -L \"/default/*\"",
                                                   "ls $pipe=15 -L \"/default/Games/.../*\""}));

    recorder->events.clear();
    LPSTR volume[] = {const_cast<LPSTR>(main_.c_str())};
    EXPECT_EQ(device_->GetItemsInfo(1, 260, volume, recorder.Get()), E_FAIL);
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "complete Invalid Input"}));
    recorder->events.clear();
    LPSTR unknown[] = {const_cast<LPSTR>("Stick\\a.txt")};
    EXPECT_EQ(device_->GetItemsInfo(1, 260, unknown, recorder.Get()), 21);
    EXPECT_EQ(recorder->events.back(), "complete " + ZvDevice15::LangString(IDS_DEVICE15_UNKNOWN_VOLUME));
    EXPECT_EQ(device_->GetItemsInfo(0, 260, unknown, recorder.Get()), E_INVALIDARG);

    VOLUMEINFO info{};
    ASSERT_EQ(device_->GetVolumeInfo(const_cast<LPSTR>(main_.c_str()), &info), S_OK);
    EXPECT_EQ(info.nBlockSize, 512);
    EXPECT_EQ(info.nTotalBlocks, 131072);
    EXPECT_EQ(info.nBusyBlocks, 4); // 1000 bytes take two blocks of 512
    EXPECT_EQ(info.nFreeBlocks, info.nTotalBlocks - 4);
    TakeLog();
    info.nBlockSize = 99;
    EXPECT_EQ(device_->GetVolumeInfo(const_cast<LPSTR>("Stick"), &info), E_FAIL);
    EXPECT_EQ(info.nBlockSize, 0);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"sysinfo $pipe=15 \"/\""});

    long length = 0;
    LPSTR text = nullptr;
    EXPECT_EQ(device_->GetDeviceInfo(nullptr, &text), E_INVALIDARG);
    ASSERT_EQ(device_->GetDeviceInfo(&length, &text), S_OK);
    const std::string deviceInfo = text;
    CoTaskMemFree(text);
    EXPECT_EQ(length, static_cast<long>(deviceInfo.size() + 1));
    EXPECT_EQ(deviceInfo.rfind("device_id= DEV150000042|short_id= D000042|", 0), 0u) << deviceInfo;
    EXPECT_NE(deviceInfo.find("|block_size(bytes)= 512|"), std::string::npos) << deviceInfo;

    ComPtr<IZvEnumFileItems> all;
    ASSERT_EQ(device_->GetAllItems(&all), S_OK);
    const std::vector<Item> everything = Drain(all.Get());
    ASSERT_GE(everything.size(), 7u);
    EXPECT_EQ(everything[0].name, main_);
    EXPECT_EQ(everything[0].raw.nIconIndex, 32);
    EXPECT_EQ(everything[1].name, "Card");
    EXPECT_NE(Find(everything, P("Games\\Sub\\h.txt")), nullptr);
    EXPECT_EQ(Find(everything, P("a.txt"))->desc, "Text Document");

    ComPtr<IZvEnumFileItems> found;
    ASSERT_EQ(device_->FindItems(const_cast<LPSTR>("default/Games/*.txt"), &found), S_OK);
    const std::vector<Item> matches = Drain(found.Get());
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].name, "g.txt");
    TakeLog();
    plugged_->Request("fault refuse=1");
    EXPECT_EQ(device_->FindItems(const_cast<LPSTR>("default/*"), &found), E_FAIL);
    EXPECT_FALSE(found);
}

TEST_F(DeviceTest, DeletesRenamesCreatesFoldersAndSetsAttributesWithTheExpectedCommands) {
    WriteFile("a.txt", 10);
    WriteFile("b.txt", 10);
    MakeFolder("Games");
    WriteFile("Games\\x.app", 10);
    List("");
    TakeLog();

    // Attributes: two chmod commands, the second naming the letters to set.
    ZVFILEITEM item{};
    const std::string a = P("a.txt");
    item.strName = const_cast<LPSTR>(a.c_str());
    item.attr = 5;
    EXPECT_EQ(device_->SetItemAttributes(item), S_OK);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"chmod $pipe=15 -RHs \"/default/a.txt\"",
                                                   "chmod $pipe=15 +RH \"/default/a.txt\""}));
    EXPECT_EQ(Find(List(main_), "a.txt")->raw.attr, 5);
    TakeLog();
    item.attr = 13;
    EXPECT_EQ(device_->SetItemAttributes(item), S_OK);
    EXPECT_EQ(TakeLog()[1], "chmod $pipe=15 +RsH \"/default/a.txt\"");
    item.attr = 0;
    EXPECT_EQ(device_->SetItemAttributes(item), S_OK);
    EXPECT_EQ(TakeLog()[1], "chmod $pipe=15 + \"/default/a.txt\"");
    item.strName = const_cast<LPSTR>("Stick\\a.txt");
    EXPECT_EQ(device_->SetItemAttributes(item), E_FAIL);
    EXPECT_TRUE(TakeLog().empty());

    // Folders.
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>(P("New").c_str())), S_OK);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"mkdir $pipe=15 \"/default/New\""});
    EXPECT_TRUE(Exists("New"));
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>(P("Missing\\New").c_str())), E_FAIL);
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>("Stick\\New")), E_FAIL);
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>(P("a\"b").c_str())), E_INVALIDARG);
    TakeLog();
    // A bare volume is there already: answered without a command; an unknown one fails.
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>(main_.c_str())), S_OK);
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>("Card")), S_OK);
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>((main_ + "\\").c_str())), S_OK);
    EXPECT_EQ(device_->CreateFolder(const_cast<LPSTR>("Stick")), E_FAIL);
    EXPECT_TRUE(TakeLog().empty());

    // Rename: refusals first, then a move.
    unsigned char error[260] = "x";
    EXPECT_EQ(device_->RenameFileItem(nullptr, const_cast<LPSTR>("b"), 260, error), E_INVALIDARG);
    EXPECT_STREQ(reinterpret_cast<char*>(error), ZvDevice15::LangString(IDS_DEVICE15_NO_ITEM).c_str());
    EXPECT_EQ(device_->RenameFileItem(const_cast<LPSTR>(a.c_str()), const_cast<LPSTR>(""), 260, error),
              E_INVALIDARG);
    EXPECT_STREQ(reinterpret_cast<char*>(error), ZvDevice15::LangString(IDS_DEVICE15_NO_NEW_NAME).c_str());
    error[0] = 0;
    EXPECT_EQ(device_->RenameFileItem(const_cast<LPSTR>(a.c_str()), const_cast<LPSTR>("b.txt"), 260, error),
              E_INVALIDARG);
    EXPECT_STREQ(reinterpret_cast<char*>(error), "");
    EXPECT_EQ(device_->RenameFileItem(const_cast<LPSTR>(a.c_str()), const_cast<LPSTR>(a.c_str()), 260, error), S_OK);
    EXPECT_TRUE(TakeLog().empty());
    {
        // The box naming the existing item comes with the UI switched off too.
        auto box = std::async(std::launch::async, [] {
            HWND shown = tv::test::WaitForWindow(L"#32770", L"Tavrilon", 60000);
            std::wstring text(512, L'\0');
            if (shown)
                text.resize(GetDlgItemTextW(shown, 0xFFFF, text.data(), static_cast<int>(text.size())));
            return shown && tv::test::ClickButton(shown, IDOK) ? text : std::wstring(L"<no box>");
        });
        EXPECT_EQ(device_->RenameFileItem(const_cast<LPSTR>(a.c_str()), const_cast<LPSTR>(P("b.txt").c_str()),
                                          260, error),
                  E_FAIL);
        EXPECT_NE(box.get().find(L"b.txt"), std::wstring::npos);
    }
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"ls $pipe=15 -L \"/default/b.txt\""});
    EXPECT_EQ(device_->RenameFileItem(const_cast<LPSTR>(P("gone.txt").c_str()),
                                      const_cast<LPSTR>(P("c.txt").c_str()), 260, error),
              E_FAIL);
    EXPECT_STREQ(reinterpret_cast<char*>(error), ZvDevice15::LangString(IDS_DEVICE15_RENAME_FAILED).c_str());
    TakeLog();
    EXPECT_EQ(device_->RenameFileItem(const_cast<LPSTR>(a.c_str()),
                                      const_cast<LPSTR>(P("Games\\c.txt").c_str()), 260, error),
              S_OK);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                             "ls $pipe=15 -L \"/default/Games/c.txt\"", "ls $pipe=15 -L \"/default/a.txt\"",
                             "cp $pipe=15 -f -v -m \"/default/a.txt\" \"/default/Games/c.txt\""}));
    EXPECT_FALSE(Exists("a.txt"));
    EXPECT_TRUE(Exists("Games\\c.txt"));

    // Delete: a file, then a whole folder.
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(P("b.txt").c_str()), 0, error), E_INVALIDARG);
    EXPECT_EQ(device_->DeleteFileItem(nullptr, 260, error), E_POINTER);
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>("Stick\\b.txt"), 5, error), 21);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(error)),
              ZvDevice15::LangString(IDS_DEVICE15_UNKNOWN_VOLUME).substr(0, 4));
    TakeLog();
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(P("b.txt").c_str()), 260, error), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(error), "");
    const auto fileLog = TakeLog();
    ASSERT_FALSE(fileLog.empty());
    EXPECT_EQ(fileLog.front(), "ls $pipe=15 -L \"/default/b.txt\"");
    EXPECT_EQ(fileLog.back(), "rm $pipe=15 \"/default/b.txt\"");
    EXPECT_FALSE(Exists("b.txt"));
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(P("Games").c_str()), 260, error), S_OK);
    const auto folderLog = TakeLog();
    ASSERT_FALSE(folderLog.empty());
    EXPECT_EQ(folderLog.back(), "rm $pipe=15 -f \"/default/Games/.../*\"");
    EXPECT_FALSE(Exists("Games"));
    // A refused removal leaves the file and is reported with the file's text.
    WriteFile("d.txt", 3);
    plugged_->Request("fault refuse=10");
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(P("d.txt").c_str()), 260, error), 8);
    EXPECT_STREQ(reinterpret_cast<char*>(error), ZvDevice15::LangString(IDS_DEVICE15_FILE_NOT_DELETED).c_str());
    plugged_->Request("clear");
    EXPECT_TRUE(Exists("d.txt"));
    // An item the device does not have: its removal is reported as not done, and no command goes
    // out without the item's path (no attributes to clear on an item that is not listed).
    error[0] = 'x';
    TakeLog();
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(P("gone.txt").c_str()), 260, error), 8);
    EXPECT_STREQ(reinterpret_cast<char*>(error), ZvDevice15::LangString(IDS_DEVICE15_FILE_NOT_DELETED).c_str());
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"ls $pipe=15 -L \"/default/gone.txt\"",
                                                   "rm $pipe=15 \"/default/gone.txt\""}));
    // A device that answers nothing: a failure with the text, never success.
    plugged_->Request("fault silent=on");
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(P("d.txt").c_str()), 260, error), 8);
    EXPECT_STREQ(reinterpret_cast<char*>(error), ZvDevice15::LangString(IDS_DEVICE15_FILE_NOT_DELETED).c_str());
    plugged_->Request("fault silent=off");
    EXPECT_TRUE(Exists("d.txt"));
}

} // namespace
} // namespace devlink15
