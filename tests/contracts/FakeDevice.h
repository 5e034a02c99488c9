// A device object for contract tests: it answers IZvDevice with fixed data, keeps what it was
// given, and calls back its callers the way the device objects do. It lives in one apartment and
// is reached through ZvPS proxies from other threads and from other processes
// (tvcontract_server.exe serves it there).
#pragma once
#include "ComObject.h"
#include "ZvDevice.h"
#include <memory>
#include <string>
#include <vector>

namespace tv::tests {

// The class tvcontract_server.exe registers under LocalServer32 and serves.
inline constexpr CLSID CLSID_ContractTestDevice = {
    0x6279cb88, 0xb8f1, 0x43ac, {0x81, 0xd3, 0x94, 0x6c, 0x9d, 0xaa, 0x21, 0xe0}};

// The property page the fake device names for each item type it has pages for.
inline constexpr CLSID CLSID_FakeMediaPage = {
    0xeace3d54, 0xeed9, 0x47f0, {0x9d, 0xfc, 0x30, 0x6a, 0x48, 0xc5, 0x43, 0xe2}};
inline constexpr CLSID CLSID_FakeFolderPage = {
    0x40260b73, 0x3052, 0x4461, {0x8c, 0x35, 0xdd, 0xd8, 0xc5, 0x85, 0x1d, 0xdc}};
inline constexpr CLSID CLSID_FakeFilePage = {
    0x1afbbf31, 0x0b9e, 0x46ab, {0x99, 0x15, 0xaa, 0x7d, 0x41, 0x79, 0xd7, 0x1d}};

// One listing entry; a string that is absent crosses as a null pointer.
struct FakeItem {
    long type;
    long attr;
    long size;
    const char* name;
    const char* desc;
    const char* iconFile;
    long iconIndex;
    long timeLow;
    long timeHigh;
};

// What every listing of the fake device holds, in order.
const std::vector<FakeItem>& FakeListing();

// Fixed texts of the fake device.
inline constexpr char kFakeInitialName[] = "Test Zelvan";
inline constexpr char kFakeStrId[] = "@TST0001";
inline constexpr char kFakeDescription[] = "Zelvan contract test device";
inline constexpr char kFakeDeviceInfo[] = "model=21\r\nsubmodel=0\r\nfirmware=1.5";
// Left in strError by a file operation that went through.
inline constexpr char kFakeOperationDone[] = "Operation complete";
// Size that file operations report for every item, in three equal steps.
inline constexpr long kFakeItemSize = 300;

// The console commands of the fake device: "inputs" answers the strings the last operation with
// string arguments received, joined by '|' (a null string shows as "<null>"); anything else is
// echoed back after "echo:".
inline constexpr char kInputsCommand[] = "inputs";

class FakeDevice : public com::ComObject<FakeDevice, IZvDevice> {
  public:
    STDMETHODIMP GetName(LONG nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetStrID(LONG nMaxLen, unsigned char* strID) override;
    STDMETHODIMP GetDescription(LONG nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetAttributes(LONG* nAttributes) override;
    STDMETHODIMP GetVersion(LONG* nModelVersion, LONG* nSubmodelVersion) override;
    STDMETHODIMP EnumFileItems(LPSTR strPath, LONG type, IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP CopyFileItem(LPSTR strSrc, LPSTR strDest, IZvFileOperationCallback* piCallback, LONG nMaxLen,
                              unsigned char* strError) override;
    STDMETHODIMP ExportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP ImportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP DeleteFileItem(LPSTR strItem, LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP RenameFileItem(LPSTR strItem, LPSTR strNewName, LONG nMaxLen,
                                unsigned char* strError) override;
    STDMETHODIMP CreateFolder(LPSTR strFolderName) override;
    STDMETHODIMP GetItemsInfo(LONG nStringCount, LONG nMaxLen, LPSTR* aStrItems,
                              IZvItemsInfoCallback* piCallback) override;
    STDMETHODIMP GetVolumeInfo(LPSTR strItem, VOLUMEINFO* pInfo) override;
    STDMETHODIMP GetPropPageID(LONG type, CAUUID* pPages) override;
    STDMETHODIMP Command(LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) override;
    STDMETHODIMP GetAllItems(IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP SetDeviceName(LPSTR strName) override;
    STDMETHODIMP GetDeviceInfo(LONG* nMaxLen, LPSTR* strInfo) override;
    STDMETHODIMP GetDeviceAuxData(LONG* nAuxData) override;
    STDMETHODIMP SetDeviceAuxData(LONG nAuxData) override;
    STDMETHODIMP ResetDeviceState(LONG nCount) override;
    STDMETHODIMP FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP SetItemAttributes(ZVFILEITEM item) override;
    STDMETHODIMP get_EnableUI(LONG* nVal) override;
    STDMETHODIMP put_EnableUI(LONG nVal) override;
    STDMETHODIMP get_AutoPC_ON_PC_OFF_Mode(LONG* nVal) override;
    STDMETHODIMP put_AutoPC_ON_PC_OFF_Mode(LONG nVal) override;

  private:
    HRESULT RunFileOperation(const char* kind, LPSTR source, LPSTR destination,
                             IZvFileOperationCallback* callback, LONG nMaxLen, unsigned char* strError);
    void KeepInputs(const std::vector<const char*>& inputs);
    HRESULT MakeEnumerator(IZvEnumFileItems** ppiEnum);

    std::string name_ = kFakeInitialName;
    std::string lastInputs_;
    LONG auxData_ = 0;
    LONG enableUI_ = 1;
};

} // namespace tv::tests
