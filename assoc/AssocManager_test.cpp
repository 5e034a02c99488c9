// The association manager over fake handlers and a classes tree of the test's own under HKCU:
// which handler opens a file, the check and repair of the bindings, the list of file types and
// the ownership of every record handed out.
#include "AssocManager.h"
#include "AnsiText.h"
#include "AssociationKeys.h"
#include "Handles.h"
#include "LanguageLibrary.h"
#include <gtest/gtest.h>
#include <string>

namespace tv::assoc {
namespace {

// A handler of one extension that counts its calls and hands out fresh records, as ours do.
class FakeHandler : public com::ComObject<FakeHandler, IZvAssociation> {
public:
    explicit FakeHandler(std::string extension) : extension_(std::move(extension)) {}

    STDMETHODIMP DoVerb(LPSTR, LONG verb) override {
        lastVerb = verb;
        return S_OK;
    }
    STDMETHODIMP GetAssociation(ZVASSOCIATION* pItem) override {
        Association own{"Fake " + extension_, extension_, "C:\\lang.dll", -11905, 0};
        return CopyToRecord(own, *pItem);
    }
    STDMETHODIMP GetContextMenuID(LONG*) override { return S_OK; } // no id: writes nothing
    STDMETHODIMP IsAcceptable(LPSTR strItem) override {
        return lstrcmpiA(strItem, extension_.c_str()) == 0 ? S_OK : S_FALSE;
    }
    STDMETHODIMP Open(LPSTR strItem) override {
        opened = strItem;
        return S_OK;
    }

    std::string opened;
    LONG lastVerb = -1;

private:
    std::string extension_;
};

void SetValue(HKEY root, const std::string& key, const std::string& value) {
    com::UniqueHKey made;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, made.Put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(made.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

class AssocManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        language_.Reset(LoadLanguageLibrary(GetModuleHandleW(nullptr)));
        ASSERT_TRUE(language_) << "Zv0409.dll beside the test";
        base_ = "Software\\TavrilonAssocTest" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\Classes").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, classes_.Put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\UserClasses").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, userClasses_.Put(), nullptr),
                  ERROR_SUCCESS);
        // A system type with an environment variable in its icon path, one without an icon index,
        // one without a description, and the bindings of both handlers.
        SetValue(classes_.Get(), ".txt", "txtfile");
        SetValue(classes_.Get(), "txtfile", "Text Document");
        SetValue(classes_.Get(), "txtfile\\DefaultIcon", "%TVASSOCTEST%\\shell.dll,-3");
        SetValue(classes_.Get(), ".noindex", "noindexfile");
        SetValue(classes_.Get(), "noindexfile", "No index");
        SetValue(classes_.Get(), "noindexfile\\DefaultIcon", "C:\\icons.dll");
        SetValue(classes_.Get(), ".nodesc", "nodescfile");
        SetValue(classes_.Get(), "notatype", "Not a type");
        Bind(".cap");
        Bind(".app");
        SetEnvironmentVariableA("TVASSOCTEST", "C:\\expanded");
        ASSERT_HRESULT_SUCCEEDED(com::MakeComObject(capHandler_, std::string(".cap")));
        ASSERT_HRESULT_SUCCEEDED(com::MakeComObject(appHandler_, std::string(".app")));
    }
    void TearDown() override {
        manager_.Reset();
        classes_.Reset();
        userClasses_.Reset();
        RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    }

    void Bind(const std::string& extension) {
        SetValue(classes_.Get(), extension, std::string(kAssociationPrefix) + extension);
        SetValue(classes_.Get(), kAssociationPrefix + extension, "Ours " + extension);
        SetValue(classes_.Get(), kAssociationPrefix + extension + "\\DefaultIcon", "C:\\lang.dll,-11905");
    }

    HRESULT MakeManager(bool withRepairRoot = true, bool withLanguage = true) {
        AssocSetup setup;
        setup.handlers = {com::ComPtr<IZvAssociation>(capHandler_.Get()),
                          com::ComPtr<IZvAssociation>(appHandler_.Get())};
        setup.classesRoot = classes_.Get();
        setup.repairRoot = withRepairRoot ? userClasses_.Get() : nullptr;
        setup.programPath = "C:\\Program Files\\Tavrilon\\Tavrilon.exe";
        return slot_.GetOrCreate(__uuidof(IZvAssocMgr),
                                 reinterpret_cast<void**>(manager_.ReleaseAndGetAddressOf()),
                                 withLanguage ? language_.Get() : nullptr, &setup);
    }

    bool Repaired(const std::string& extension) {
        std::string value;
        return ReadDefaultValue(userClasses_.Get(), extension, value) && value == kAssociationPrefix + extension;
    }

    com::ComApartment apartment_;
    com::UniqueModule language_;
    std::string base_;
    com::UniqueHKey classes_, userClasses_;
    com::ComPtr<FakeHandler> capHandler_, appHandler_;
    com::SharedInstance<AssocManager> slot_;
    com::ComPtr<IZvAssocMgr> manager_;
};

TEST_F(AssocManagerTest, FirstAcceptingHandlerOpensByTheLastExtension) {
    ASSERT_EQ(MakeManager(), S_OK);
    char archive[] = "C:\\in\\archive.tar.cap";
    EXPECT_EQ(manager_->Open(archive), S_OK);
    EXPECT_EQ(capHandler_->opened, archive);
    char upper[] = "C:\\in\\GAME.APP";
    EXPECT_EQ(manager_->Open(upper), S_OK);
    EXPECT_EQ(appHandler_->opened, upper);
    char readme[] = "README", text[] = "C:\\a.txt";
    EXPECT_EQ(manager_->Open(readme), S_FALSE);
    EXPECT_EQ(manager_->Open(text), S_FALSE);
    EXPECT_EQ(manager_->DoVerb(text, 1), E_FAIL);
    EXPECT_EQ(manager_->DoVerb(archive, 7), S_OK);
    EXPECT_EQ(capHandler_->lastVerb, 7);
    EXPECT_EQ(manager_->Open(nullptr), E_POINTER);
    EXPECT_EQ(manager_->DoVerb(nullptr, 0), E_POINTER);
}

TEST_F(AssocManagerTest, ContextMenuIdIsZeroWhenTheHandlerHasNone) {
    ASSERT_EQ(MakeManager(), S_OK);
    char archive[] = "x.cap", text[] = "x.txt";
    LONG id = 1234;
    EXPECT_EQ(manager_->GetContextMenuID(archive, &id), S_OK);
    EXPECT_EQ(id, 0);
    id = 1234;
    EXPECT_EQ(manager_->GetContextMenuID(text, &id), E_FAIL);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(manager_->GetContextMenuID(archive, nullptr), E_POINTER);
}

TEST_F(AssocManagerTest, BoundExtensionsAreLeftAlone) {
    ASSERT_EQ(MakeManager(), S_OK);
    EXPECT_FALSE(Repaired(".cap"));
    EXPECT_FALSE(Repaired(".app"));
}

TEST_F(AssocManagerTest, AnotherProgramsBindingIsRepairedInTheUsersClasses) {
    SetValue(classes_.Get(), ".app", "OtherProgram.App");
    ASSERT_EQ(MakeManager(), S_OK);
    // Every handler's keys are written again, with the open command and the DDE keys.
    EXPECT_TRUE(Repaired(".cap"));
    EXPECT_TRUE(Repaired(".app"));
    std::string value;
    ASSERT_TRUE(ReadDefaultValue(userClasses_.Get(), "Tavrilon.Association.app\\shell\\open\\command", value));
    EXPECT_EQ(value, "\"C:\\Program Files\\Tavrilon\\Tavrilon.exe\" \"%1\"");
    ASSERT_TRUE(ReadDefaultValue(userClasses_.Get(), "Tavrilon.Association.app\\DefaultIcon", value));
    EXPECT_EQ(value, "C:\\lang.dll,-11905");
    ASSERT_TRUE(ReadDefaultValue(userClasses_.Get(), "Tavrilon.Association.app", value));
    EXPECT_EQ(value, "Fake .app");
    ASSERT_TRUE(ReadDefaultValue(userClasses_.Get(), "Tavrilon.Association.app\\shell\\open\\ddeexec", value));
    EXPECT_EQ(value, "[FileOpen(\"%1\")]");
    ASSERT_TRUE(ReadDefaultValue(userClasses_.Get(), "Tavrilon.Association.app\\shell\\open\\ddeexec\\Topic", value));
    EXPECT_FALSE(value.empty());
    // The other program's key itself is not touched by the repair.
    ASSERT_TRUE(ReadDefaultValue(classes_.Get(), ".app", value));
    EXPECT_EQ(value, "OtherProgram.App");
    // The handlers still open their files after the repair.
    char game[] = "C:\\in\\game.app";
    EXPECT_EQ(manager_->Open(game), S_OK);
    EXPECT_EQ(appHandler_->opened, game);
}

TEST_F(AssocManagerTest, RepairWritesTheDdeKeysEvenWithoutTheirTexts) {
    SetValue(classes_.Get(), ".cap", "OtherProgram.Cap");
    ASSERT_EQ(MakeManager(true, false), S_OK);
    std::string value;
    ASSERT_TRUE(
        ReadDefaultValue(userClasses_.Get(), "Tavrilon.Association.cap\\shell\\open\\ddeexec", value));
    EXPECT_EQ(value, "[FileOpen(\"%1\")]");
    EXPECT_TRUE(ReadDefaultValue(userClasses_.Get(),
                                 "Tavrilon.Association.cap\\shell\\open\\ddeexec\\Application", value));
    EXPECT_TRUE(
        ReadDefaultValue(userClasses_.Get(), "Tavrilon.Association.cap\\shell\\open\\ddeexec\\Topic", value));
}

TEST_F(AssocManagerTest, UnreadableOrMissingBindingIsLostAndRepairedNotFatal) {
    // A key without a default value, and a missing key.
    RegDeleteTreeA(classes_.Get(), ".cap");
    com::UniqueHKey empty;
    RegCreateKeyExA(classes_.Get(), ".cap", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, empty.Put(), nullptr);
    ASSERT_EQ(MakeManager(), S_OK);
    EXPECT_TRUE(Repaired(".cap"));

    manager_.Reset();
    RegDeleteTreeA(userClasses_.Get(), ".cap");
    RegDeleteTreeA(classes_.Get(), ".cap");
    ASSERT_EQ(MakeManager(), S_OK);
    EXPECT_TRUE(Repaired(".cap"));
}

TEST_F(AssocManagerTest, TypeListIsBuiltEvenWhenTheRepairFails) {
    SetValue(classes_.Get(), ".cap", "OtherProgram.Cap");
    ASSERT_EQ(MakeManager(false), S_OK);
    ZVASSOCIATION record{};
    char text[] = "notes.TXT";
    ASSERT_EQ(manager_->GetAssociation(text, &record), S_OK);
    EXPECT_STREQ(record.strDescription, "Text Document");
    FreeRecord(record);
}

TEST_F(AssocManagerTest, SystemTypesGiveFreshCopiesAndUnknownTypesTheGenericRecord) {
    ASSERT_EQ(MakeManager(), S_OK);
    ZVASSOCIATION first{}, second{};
    char text[] = "C:\\notes.txt";
    ASSERT_EQ(manager_->GetAssociation(text, &first), S_OK);
    ASSERT_EQ(manager_->GetAssociation(text, &second), S_OK);
    EXPECT_STREQ(first.strDescription, "Text Document");
    EXPECT_STREQ(first.strExtension, ".txt");
    EXPECT_STREQ(first.strIconSrc, "C:\\expanded\\shell.dll");
    EXPECT_EQ(first.dwIconIdx, -3);
    // Each caller owns its strings: freeing both is no double free.
    EXPECT_NE(first.strDescription, second.strDescription);
    FreeRecord(first);
    FreeRecord(second);

    // A type without an icon index or without a description is not in the list.
    for (const char* name : {"x.noindex", "x.nodesc", "README"}) {
        std::string item = name;
        ZVASSOCIATION generic{};
        generic.dwZvFlag = 9;
        ASSERT_EQ(manager_->GetAssociation(item.data(), &generic), S_OK);
        EXPECT_STREQ(generic.strIconSrc, "shell32.dll");
        EXPECT_EQ(generic.dwIconIdx, 0);
        EXPECT_EQ(generic.dwZvFlag, 0);
        EXPECT_EQ(generic.strExtension, nullptr);
        EXPECT_STRNE(generic.strDescription, "");
        FreeRecord(generic);
    }
    EXPECT_EQ(manager_->GetAssociation(nullptr, &first), E_POINTER);
    EXPECT_EQ(manager_->GetAssociation(text, nullptr), E_POINTER);
}

TEST_F(AssocManagerTest, EnumeratorWalksTheTypeList) {
    ASSERT_EQ(MakeManager(), S_OK);
    com::ComPtr<IZvEnumAssociations> types;
    ASSERT_EQ(manager_->EnumAssociations(0, &types), S_OK);
    // .app, .cap and .txt: the three complete types of the tree.
    ZVASSOCIATION records[5]{};
    LONG fetched = 0;
    ASSERT_EQ(types->Next(5, records, &fetched), S_OK);
    ASSERT_EQ(fetched, 3);
    std::string extensions;
    for (LONG i = 0; i < fetched; ++i) {
        extensions += records[i].strExtension;
        FreeRecord(records[i]);
    }
    EXPECT_EQ(extensions, ".app.cap.txt");
    EXPECT_EQ(records[3].strDescription, nullptr);
    EXPECT_EQ(types->Next(1, records, nullptr), S_OK);
    EXPECT_EQ(records[0].strDescription, nullptr);
    EXPECT_EQ(types->Next(2, records, nullptr), E_POINTER);
    EXPECT_EQ(types->Next(1, nullptr, &fetched), E_POINTER);

    ASSERT_EQ(types->Reset(), S_OK);
    EXPECT_EQ(types->Skip(4), S_FALSE); // past the end: the position stays
    ASSERT_EQ(types->Skip(2), S_OK);
    ASSERT_EQ(types->Next(1, records, &fetched), S_OK);
    EXPECT_EQ(fetched, 1);
    EXPECT_STREQ(records[0].strExtension, ".txt");
    FreeRecord(records[0]);
    com::ComPtr<IZvEnumAssociations> clone;
    EXPECT_EQ(types->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone.Get(), nullptr);
}

TEST_F(AssocManagerTest, UnregistrationRemovesOnlyOurOwnKeys) {
    // Our binding: the ProgID key and the extension's key go.
    ASSERT_EQ(RemoveAssociationKeys(classes_.Get(), ".cap"), S_OK);
    std::string value;
    EXPECT_FALSE(ReadDefaultValue(classes_.Get(), ".cap", value));
    EXPECT_FALSE(ReadDefaultValue(classes_.Get(), "Tavrilon.Association.cap", value));
    // Another program's binding of the extension stays; only our ProgID key goes.
    SetValue(classes_.Get(), ".app", "OtherProgram.App");
    ASSERT_EQ(RemoveAssociationKeys(classes_.Get(), ".app"), S_OK);
    ASSERT_TRUE(ReadDefaultValue(classes_.Get(), ".app", value));
    EXPECT_EQ(value, "OtherProgram.App");
    EXPECT_FALSE(ReadDefaultValue(classes_.Get(), "Tavrilon.Association.app", value));
    // Nothing of ours left: still success; the other program's types are never touched.
    EXPECT_EQ(RemoveAssociationKeys(classes_.Get(), ".txt"), S_OK);
    EXPECT_TRUE(ReadDefaultValue(classes_.Get(), ".txt", value));
    EXPECT_TRUE(ReadDefaultValue(classes_.Get(), "txtfile", value));
}

TEST_F(AssocManagerTest, AFailedCreationIsAnsweredToEveryLaterCreation) {
    AssocSetup setup; // no classes root to read: the initialisation fails
    setup.handlers = {com::ComPtr<IZvAssociation>(capHandler_.Get())};
    AssocManagerCreation creation;
    com::ComPtr<IClassFactory> factory;
    ASSERT_EQ(com::CreateComObject<AssocManagerFactory>(IID_IClassFactory, reinterpret_cast<void**>(&factory),
                                                        creation, language_.Get(), &setup),
              S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IZvAssocMgr), reinterpret_cast<void**>(&manager_)),
              E_FAIL);
    setup.classesRoot = classes_.Get(); // it would succeed now
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IZvAssocMgr), reinterpret_cast<void**>(&manager_)),
              E_FAIL);
    EXPECT_EQ(manager_.Get(), nullptr);

    // Asking for an interface the manager lacks is the caller's failure alone.
    AssocManagerCreation fresh;
    ASSERT_EQ(com::CreateComObject<AssocManagerFactory>(IID_IClassFactory, reinterpret_cast<void**>(&factory),
                                                        fresh, language_.Get(), &setup),
              S_OK);
    com::ComPtr<IPersist> persist;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&persist)),
              E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IZvAssocMgr), reinterpret_cast<void**>(&manager_)),
              S_OK);
}

TEST_F(AssocManagerTest, OneManagerWhileItLives) {
    ASSERT_EQ(MakeManager(), S_OK);
    com::ComPtr<IZvAssocMgr> again;
    ASSERT_EQ(slot_.GetOrCreate(__uuidof(IZvAssocMgr), reinterpret_cast<void**>(&again), language_.Get(), nullptr),
              S_OK);
    EXPECT_EQ(again.Get(), manager_.Get());
}

} // namespace
} // namespace tv::assoc
