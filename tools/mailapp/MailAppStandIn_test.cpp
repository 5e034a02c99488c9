// The stand-in mail application as the contacts and tasks synchronizer reaches it: created by the
// ProgID's current version, across the process boundary, its members called through the function
// table; fixture in, dump out, fault switches with error information.
#include "ComPtr.h"
#include "MailApp.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using tv::com::ComPtr;

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Zelvan\\TavrilonTests\\MailApp";

void SetSetting(const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream in{std::filesystem::path(path)};
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class MailAppStandInTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        fixture_ = TempPath(L"mailapp_fixture.txt");
        dump_ = TempPath(L"mailapp_dump.txt");
        std::ofstream(std::filesystem::path(fixture_), std::ios::trunc)
            << "contact\tLastName=Smith\tFirstName=Alice\tPhone=111\t@ZvID=AAAAAAB\n"
            << "list\tName=Friends\n"
            << "task\tSubject=Call "
               "Bob\tImportance=2\tDueDate=37500.5\tReminderSet=1\tReminderTime=37500.25\n";
        DeleteFileW(dump_.c_str());
        SetSetting(L"Fixture", fixture_);
        SetSetting(L"Dump", dump_);
        SetSetting(L"Fail", L"");
    }
    void TearDown() override {
        app_.Reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
        CoUninitialize();
    }

    void Start() {
        // The version the synchronizer checks is the one the ProgID's CurVer names.
        wchar_t version[256] = {};
        LONG size = sizeof(version);
        ASSERT_EQ(RegQueryValueW(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", version, &size),
                  ERROR_SUCCESS);
        CLSID clsid;
        ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(version, &clsid));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                                                  __uuidof(IMailApplication),
                                                  reinterpret_cast<void**>(&app_)));
    }

    ComPtr<IMailItems> Items(long folderNumber) {
        ComPtr<IMailNamespace> ns;
        ComPtr<IMailFolder> folder;
        ComPtr<IMailItems> items;
        BSTR mapi = SysAllocString(L"MAPI");
        EXPECT_HRESULT_SUCCEEDED(app_->GetNamespace(mapi, &ns));
        SysFreeString(mapi);
        if (ns && SUCCEEDED(ns->GetDefaultFolder(folderNumber, &folder))) {
            EXPECT_HRESULT_SUCCEEDED(folder->get_Items(&items));
        }
        return items;
    }

    ComPtr<IDispatch> ItemAt(IMailItems* items, long index) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = index;
        ComPtr<IDispatch> item;
        EXPECT_HRESULT_SUCCEEDED(items->Item(v, &item));
        return item;
    }

    std::wstring fixture_, dump_;
    ComPtr<IMailApplication> app_;
};

// An optional argument left out, as automation callers pass it.
VARIANT Omitted() {
    VARIANT omitted;
    VariantInit(&omitted);
    omitted.vt = VT_ERROR;
    omitted.scode = DISP_E_PARAMNOTFOUND;
    return omitted;
}

std::wstring Text(BSTR text) {
    std::wstring value = text ? text : L"";
    SysFreeString(text);
    return value;
}

TEST_F(MailAppStandInTest, FixtureItemsFieldsAndUserProperties) {
    Start();
    ComPtr<IMailItems> contacts = Items(10);
    ASSERT_TRUE(contacts);
    long count = 0;
    ASSERT_HRESULT_SUCCEEDED(contacts->get_Count(&count));
    EXPECT_EQ(count, 2);
    ComPtr<IMailContactItem> alice;
    ASSERT_HRESULT_SUCCEEDED(
        ItemAt(contacts.Get(), 1)
            ->QueryInterface(__uuidof(IMailContactItem), reinterpret_cast<void**>(&alice)));
    BSTR value = nullptr;
    ASSERT_HRESULT_SUCCEEDED(alice->get_LastName(&value));
    EXPECT_EQ(Text(value), L"Smith");
    ASSERT_HRESULT_SUCCEEDED(alice->get_Title(&value));
    EXPECT_EQ(Text(value), L"");

    ComPtr<IMailUserProperties> properties;
    ASSERT_HRESULT_SUCCEEDED(alice->get_UserProperties(&properties));
    const VARIANT omitted = Omitted();
    BSTR name = SysAllocString(L"ZvID");
    ComPtr<IMailUserProperty> id;
    ASSERT_HRESULT_SUCCEEDED(properties->Find(name, omitted, &id));
    ASSERT_TRUE(id);
    VARIANT idValue;
    VariantInit(&idValue);
    ASSERT_HRESULT_SUCCEEDED(id->get_Value(&idValue));
    EXPECT_EQ(idValue.vt, VT_BSTR);
    EXPECT_STREQ(idValue.bstrVal, L"AAAAAAB");
    VariantClear(&idValue);
    SysFreeString(name);
    // A property the item lacks is found as nothing.
    name = SysAllocString(L"ICQ");
    ComPtr<IMailUserProperty> icq;
    EXPECT_HRESULT_SUCCEEDED(properties->Find(name, omitted, &icq));
    EXPECT_FALSE(icq);
    SysFreeString(name);

    // The list answers neither item interface; tasks have their own folder.
    ComPtr<IMailContactItem> notContact;
    EXPECT_EQ(ItemAt(contacts.Get(), 2)
                  ->QueryInterface(__uuidof(IMailContactItem), reinterpret_cast<void**>(&notContact)),
              E_NOINTERFACE);
    ComPtr<IMailItems> tasks = Items(13);
    ASSERT_TRUE(tasks);
    ComPtr<IMailTaskItem> task;
    ASSERT_HRESULT_SUCCEEDED(
        ItemAt(tasks.Get(), 1)->QueryInterface(__uuidof(IMailTaskItem), reinterpret_cast<void**>(&task)));
    long importance = 0;
    DATE due = 0, reminder = 0;
    VARIANT_BOOL set = VARIANT_FALSE;
    ASSERT_HRESULT_SUCCEEDED(task->get_Importance(&importance));
    ASSERT_HRESULT_SUCCEEDED(task->get_DueDate(&due));
    ASSERT_HRESULT_SUCCEEDED(task->get_ReminderTime(&reminder));
    ASSERT_HRESULT_SUCCEEDED(task->get_ReminderSet(&set));
    EXPECT_EQ(importance, 2);
    EXPECT_DOUBLE_EQ(due, 37500.5);
    EXPECT_DOUBLE_EQ(reminder, 37500.25);
    EXPECT_EQ(set, VARIANT_TRUE);
}

TEST_F(MailAppStandInTest, NewItemsAreSavedIntoTheDump) {
    Start();
    ComPtr<IMailItems> contacts = Items(10);
    ASSERT_TRUE(contacts);
    VARIANT type;
    VariantInit(&type);
    type.vt = VT_I4;
    type.lVal = 2;
    ComPtr<IDispatch> added;
    ASSERT_HRESULT_SUCCEEDED(contacts->Add(type, &added));
    ComPtr<IMailContactItem> contact;
    ASSERT_HRESULT_SUCCEEDED(
        added->QueryInterface(__uuidof(IMailContactItem), reinterpret_cast<void**>(&contact)));
    BSTR last = SysAllocString(L"Jones");
    ASSERT_HRESULT_SUCCEEDED(contact->put_LastName(last));
    SysFreeString(last);
    ComPtr<IMailUserProperties> properties;
    ASSERT_HRESULT_SUCCEEDED(contact->get_UserProperties(&properties));
    const VARIANT omitted = Omitted();
    BSTR name = SysAllocString(L"ZvID");
    ComPtr<IMailUserProperty> id;
    ASSERT_HRESULT_SUCCEEDED(properties->Add(name, 1, omitted, omitted, &id));
    SysFreeString(name);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"UNKNOWN");
    ASSERT_HRESULT_SUCCEEDED(id->put_Value(text));
    VariantClear(&text);
    long count = 0;
    ASSERT_HRESULT_SUCCEEDED(contacts->get_Count(&count));
    EXPECT_EQ(count, 2); // not in the folder before it is saved
    ASSERT_HRESULT_SUCCEEDED(contact->Save());
    ASSERT_HRESULT_SUCCEEDED(contacts->get_Count(&count));
    EXPECT_EQ(count, 3);
    const std::string dump = ReadAll(dump_);
    EXPECT_NE(dump.find("contact\tLastName=Jones\t@ZvID=UNKNOWN\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("task\tDueDate=37500.5"), std::string::npos) << dump;
}

TEST_F(MailAppStandInTest, FaultSwitchesFailWithErrorInformation) {
    SetSetting(L"Fail", L"Item,Add");
    Start();
    ComPtr<IMailItems> contacts = Items(10);
    ASSERT_TRUE(contacts);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 1;
    ComPtr<IDispatch> item;
    EXPECT_EQ(contacts->Item(v, &item), E_FAIL);
    // The error object is set in the server; Wine's marshalling does not carry it back to the
    // caller, so its text is checked only where it arrives.
    ComPtr<IErrorInfo> error;
    if (GetErrorInfo(0, &error) == S_OK) {
        BSTR description = nullptr;
        ASSERT_HRESULT_SUCCEEDED(error->GetDescription(&description));
        EXPECT_NE(Text(description).find(L"Item"), std::wstring::npos);
    }
    EXPECT_EQ(contacts->Add(v, &item), E_FAIL);
    SetSetting(L"Fail", L"Save");
    ComPtr<IMailItems> tasks = Items(13);
    ComPtr<IMailTaskItem> task;
    ASSERT_HRESULT_SUCCEEDED(
        ItemAt(tasks.Get(), 1)->QueryInterface(__uuidof(IMailTaskItem), reinterpret_cast<void**>(&task)));
    EXPECT_EQ(task->Save(), E_FAIL);
}

} // namespace
