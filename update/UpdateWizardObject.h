// ZvUpdate15UI: the script's face of the update wizard. The wizard window and its pages run on a
// thread of their own (UpdateWizard); every method that touches them sends its work to that
// thread. The object also answers IZvUpdate15Callback, whose methods do nothing.
#pragma once

#include "ComObject.h"
#include "Handles.h"
#include "TypeInfoDispatch.h"
#include "UpdateWizard.h"
#include "ZvUpdate15.h"

#include <atomic>
#include <functional>
#include <string>

namespace tv::update {

class ZvUpdate15UIObject final : public com::ComObject<ZvUpdate15UIObject, IZvUpdate15UI3, ISupportErrorInfo> {
  public:
    ZvUpdate15UIObject();
    ~ZvUpdate15UIObject() override;
    void* QueryOtherInterface(REFIID riid);

    TV_DUAL_DISPATCH(IZvUpdate15UI3, dispatch_)
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    STDMETHODIMP CreateUpdateDialog(long isShow) override;
    STDMETHODIMP DestroyUpdateDialog() override;
    STDMETHODIMP ShowUpdateDialog(long isShow) override;
    STDMETHODIMP SetUpdateDialogTitle(BSTR bsTitle) override;
    STDMETHODIMP SetUpdateDialogText(BSTR bsText) override;
    STDMETHODIMP SetUpdateDialogSubtext(BSTR bsSubtext) override;
    STDMETHODIMP SetUpdateDialogLabel(tagZvUpdate15Label nID) override;
    STDMETHODIMP GetPressedButton(tagZvUpdate15Button* pVal) override;
    STDMETHODIMP ConfigButton(tagZvUpdate15Button nButton, BSTR bsText, long isEnabled, long isVisible, long bFlags) override;
    STDMETHODIMP SelectDevice(BSTR* pbsZvID) override;
    STDMETHODIMP SelectUpdateLevel(tagZvUpdate15Level* pVal) override;
    STDMETHODIMP SelectUpdateFiles() override;
    STDMETHODIMP SetPageData(tagZvUpdate15Page nPage) override;
    STDMETHODIMP GetPageData(tagZvUpdate15Page nPage) override;
    STDMETHODIMP ShowPage(tagZvUpdate15Page nPage, long isShow) override;
    STDMETHODIMP WaitButtons(long nTimeOut, tagZvUpdate15Button* pVal) override;
    STDMETHODIMP get_SysPackVersion(BSTR* pVal) override;
    STDMETHODIMP put_SysPackVersion(BSTR newVal) override;
    STDMETHODIMP get_ZvID(BSTR* pVal) override;
    STDMETHODIMP put_ZvID(BSTR newVal) override;
    STDMETHODIMP get_ZUP00_UpdateLevel(tagZvUpdate15Level* pVal) override;
    STDMETHODIMP put_ZUP00_UpdateLevel(tagZvUpdate15Level newVal) override;
    STDMETHODIMP get_ZUP00_RecommendedUpdateLevel(tagZvUpdate15Level* pVal) override;
    STDMETHODIMP put_ZUP00_RecommendedUpdateLevel(tagZvUpdate15Level newVal) override;
    STDMETHODIMP ZUP00_SetUpdateLevelName(tagZvUpdate15Level level, BSTR bsName) override;
    STDMETHODIMP ZUP00_SetUpdateLevelDescription(tagZvUpdate15Level level, BSTR bsDescription) override;
    STDMETHODIMP get_ZUP01_SelectAll(long* pVal) override;
    STDMETHODIMP put_ZUP01_SelectAll(long newVal) override;
    STDMETHODIMP get_ZUP01_FormatFlash(long* pVal) override;
    STDMETHODIMP put_ZUP01_FormatFlash(long newVal) override;
    STDMETHODIMP get_ZUP01_FreeSpace(long* pVal) override;
    STDMETHODIMP put_ZUP01_FreeSpace(long newVal) override;
    STDMETHODIMP get_ZUP01_TotalSpace(long* pVal) override;
    STDMETHODIMP put_ZUP01_TotalSpace(long newVal) override;
    STDMETHODIMP get_ZUP01_RequiredSpace(long* pVal) override;
    STDMETHODIMP put_ZUP01_RequiredSpace(long newVal) override;
    STDMETHODIMP ZUP01_GetUpdateFilesCount(long* pCount) override;
    STDMETHODIMP ZUP01_GetUpdateFileName(long index, BSTR* pbsName) override;
    STDMETHODIMP ZUP01_GetToDeleteFilesCount(long* pCount) override;
    STDMETHODIMP ZUP01_GetToDeleteFileName(long index, BSTR* pbsName) override;
    STDMETHODIMP ZUP01_AddUpdateFile(BSTR bsName, long nLength, long lParam, BSTR bsDescription) override;
    STDMETHODIMP ZUP01_AddDeviceFile(BSTR bsName, long nLength, long lParam, BSTR bsDescription) override;
    STDMETHODIMP ZUP01_RemoveAllUpdateFiles() override;
    STDMETHODIMP ZUP01_RemoveAllDeviceFiles() override;
    STDMETHODIMP ZUP01_SetText(BSTR bsText) override;
    STDMETHODIMP ZUP01_ConfigSelectAll(BSTR bsText, long isEnabled, long isVisible, long bFlags) override;
    STDMETHODIMP ZUP01_ConfigFormatFlash(BSTR bsText, long isEnabled, long isVisible, long bFlags) override;
    STDMETHODIMP ZUP02_EnableProgressEx(long isEnabled) override;
    STDMETHODIMP get_ZUP02_ProgressRange(long* pVal) override;
    STDMETHODIMP put_ZUP02_ProgressRange(long newVal) override;
    STDMETHODIMP get_ZUP02_ProgressPosition(long* pVal) override;
    STDMETHODIMP put_ZUP02_ProgressPosition(long newVal) override;
    STDMETHODIMP ZUP02_SetProgressText(BSTR bsText) override;
    STDMETHODIMP get_ZUP02_ProgressRangeEx(long* pVal) override;
    STDMETHODIMP put_ZUP02_ProgressRangeEx(long newVal) override;
    STDMETHODIMP get_ZUP02_ProgressPositionEx(long* pVal) override;
    STDMETHODIMP put_ZUP02_ProgressPositionEx(long newVal) override;
    STDMETHODIMP ZUP02_SetProgressTextEx(BSTR bsText) override;
    STDMETHODIMP ZUP02_AutoProgressStart(long nTime, long count) override;
    STDMETHODIMP ZUP02_AutoProgressWait() override;
    STDMETHODIMP ZUP02_AutoProgressResume() override;
    STDMETHODIMP ZUP02_AutoProgressStop() override;
    STDMETHODIMP ZUP02_ShowAnimate(tagZvUpdate15Animate nID) override;
    STDMETHODIMP ZUP02_HideAnimate() override;
    STDMETHODIMP ZUP03_SetText(BSTR bsText) override;
    STDMETHODIMP ZUP03_SetButtonText(BSTR bsButtonText) override;
    STDMETHODIMP ZUP04_AddDeviceInformation(BSTR bsName, BSTR bsSysPackVersion, BSTR bsZvID, BSTR bsDescription) override;
    STDMETHODIMP ZUP04_RemoveAllDeviceInformation() override;
    STDMETHODIMP ZUP04_SetText(BSTR bsText) override;
    STDMETHODIMP ZUP04_SetButtonText(BSTR bsButtonText) override;
    STDMETHODIMP ZUP04_GetSelectedDeviceZvID(BSTR* pbsZvID) override;
    STDMETHODIMP ZUP05_SetText(BSTR bsText) override;
    STDMETHODIMP ZUP05_SetSunkenText(BSTR bsSunkenText) override;
    STDMETHODIMP ZUP05_SetButtonText(BSTR bsButtonText) override;
    STDMETHODIMP get_ZUP04_UnknownDevice(long* pVal) override;
    STDMETHODIMP put_ZUP04_UnknownDevice(long newVal) override;
    STDMETHODIMP get_ZUP04_SelectedDeviceZvID(BSTR* pVal) override;
    STDMETHODIMP put_ZUP04_SelectedDeviceZvID(BSTR newVal) override;
    STDMETHODIMP ZUP04_ConfigUnknownDeviceButton(BSTR bsText, long isEnabled, long isVisible, long bFlags) override;
    STDMETHODIMP get_ZUP06_SelectAll(long* pVal) override;
    STDMETHODIMP put_ZUP06_SelectAll(long newVal) override;
    STDMETHODIMP get_ZUP06_FormatFlash(long* pVal) override;
    STDMETHODIMP put_ZUP06_FormatFlash(long newVal) override;
    STDMETHODIMP get_ZUP06_FreeSpace(long* pVal) override;
    STDMETHODIMP put_ZUP06_FreeSpace(long newVal) override;
    STDMETHODIMP get_ZUP06_TotalSpace(long* pVal) override;
    STDMETHODIMP put_ZUP06_TotalSpace(long newVal) override;
    STDMETHODIMP get_ZUP06_RequiredSpace(long* pVal) override;
    STDMETHODIMP put_ZUP06_RequiredSpace(long newVal) override;
    STDMETHODIMP ZUP06_GetUpdateFilesCount(long* pCount) override;
    STDMETHODIMP ZUP06_GetUpdateFileName(long index, BSTR* pbsName) override;
    STDMETHODIMP ZUP06_GetToDeleteFilesCount(long* pCount) override;
    STDMETHODIMP ZUP06_GetToDeleteFileName(long index, BSTR* pbsName) override;
    STDMETHODIMP ZUP06_AddUpdateFile(BSTR bsAppName, BSTR bsDescription, BSTR bsName, long nLength, long lParam) override;
    STDMETHODIMP ZUP06_AddDeviceFile(BSTR bsName, long nLength) override;
    STDMETHODIMP ZUP06_RemoveAllUpdateFiles() override;
    STDMETHODIMP ZUP06_RemoveAllDeviceFiles() override;
    STDMETHODIMP ZUP06_SetText(BSTR bsText) override;
    STDMETHODIMP ZUP06_ConfigSelectAll(BSTR bsText, long isEnabled, long isVisible, long bFlags) override;
    STDMETHODIMP ZUP06_ConfigFormatFlash(BSTR bsText, long isEnabled, long isVisible, long bFlags) override;
    STDMETHODIMP AdvancedSelectUpdateFiles() override;
    STDMETHODIMP GetComponentVersion(BSTR* pVal) override;
    STDMETHODIMP OnUpdate(tagZvUpdate15Status, long, BSTR) override { return S_OK; }
    STDMETHODIMP OnError(long, BSTR) override { return S_OK; }

    // The wizard thread's body; `object` is the ZvUpdate15UIObject.
    static DWORD WINAPI WizardThreadProc(void* object);

  private:
    // Runs `work` with the wizard on its thread; E_ABORT without a wizard.
    HRESULT OnWizard(const std::function<HRESULT(UpdateWizard&)>& work);
    // A property getter: E_POINTER without `out`, else `*out` = `read(wizard)` on the wizard's thread.
    template <class T, class Read> HRESULT ReadOnWizard(T* out, Read read) {
        if (!out)
            return E_POINTER;
        return OnWizard([out, &read](UpdateWizard& w) {
            *out = read(w);
            return S_OK;
        });
    }
    // The selection sequence of one page: show, prepare, wait for a button, hide.
    HRESULT RunPage(int page, bool handWizard);
    HRESULT FileCount(bool advanced, bool toDelete, long* pCount);
    HRESULT FileName(bool advanced, bool toDelete, long index, BSTR* pbsName);

    com::TypeInfoDispatch dispatch_{IID_IZvUpdate15UI3};
    com::UniqueHandle thread_;
    HANDLE readyEvent_ = nullptr; // exists only while CreateUpdateDialog runs
    std::atomic<UpdateWizard*> wizard_{nullptr};
    long showFlag_ = 1;
    std::wstring sysPackVersion_;
    std::wstring zvId_;
};

} // namespace tv::update
