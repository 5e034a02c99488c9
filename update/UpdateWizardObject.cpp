#include "UpdateWizardObject.h"

#include "AnsiText.h"
#include "ComPtr.h"
#include "DllModule.h"
#include "HResult.h"
#include "MessagePump.h"
#include "UpdateIds.h"
#include "ZelvanMgr.h"

#include <objbase.h>

namespace tv::update {
namespace {

constexpr UINT kShowPageMessage = WM_APP;
constexpr UINT kHidePageMessage = WM_APP + 1;
constexpr wchar_t kProgramMutex[] = L"{25A50E30-3183-4b63-B179-043BEACB5806}";
constexpr const wchar_t* kComponentVersion = L"1.23";

std::wstring Text(BSTR text) {
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

std::string Narrow(BSTR text) {
    return com::ToAnsi(text);
}

HRESULT CopyOut(const std::wstring& text, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::wstring LangString(UINT id) {
    wchar_t text[512] = {};
    LoadStringW(dll::LanguageLibrary(), id, text, 512);
    return text;
}

// Waits for the creation event or the end of the wizard thread, whichever comes first, while the
// caller's messages keep flowing. True when the event came.
bool WaitForReadyOrEnd(HANDLE ready, HANDLE thread) {
    const HANDLE handles[2] = {ready, thread};
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjectsEx(2, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result == WAIT_OBJECT_0 + 1 || result == WAIT_FAILED)
            return WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// Marks the hub busy with the wizard's window, when the desktop program runs; a hub that cannot
// be reached is ignored.
void MarkHubBusy(HWND window) {
    com::UniqueHandle running(OpenMutexW(SYNCHRONIZE, FALSE, kProgramMutex));
    if (!running)
        return;
    com::ComPtr<IZelvanMgrDisp2> hub;
    if (SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelvanMgrDisp2,
                                   reinterpret_cast<void**>(hub.ReleaseAndGetAddressOf()))))
        hub->PutBusyUI(static_cast<long>(reinterpret_cast<LONG_PTR>(window)), VARIANT_TRUE);
}

tagZvUpdate15Button ButtonOf(int pressed) {
    switch (pressed) {
    case IDC_WIZARD_BACK:
        return ZUB_BACK;
    case IDC_WIZARD_NEXT:
        return ZUB_NEXT;
    case IDCANCEL:
        return ZUB_CANCEL;
    default:
        return ZUB_UNKNOWN;
    }
}

} // namespace

ZvUpdate15UIObject::ZvUpdate15UIObject()
    : sysPackVersion_(LangString(IDS_UPDATE_SYSPACK_VERSION)), zvId_(LangString(IDS_UPDATE_ZVID)) {}

ZvUpdate15UIObject::~ZvUpdate15UIObject() {
    DestroyUpdateDialog();
}

void* ZvUpdate15UIObject::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IZvUpdate15UI2) || IsEqualIID(riid, IID_IZvUpdate15UI) ||
        IsEqualIID(riid, IID_IZvUpdate15Callback))
        return static_cast<IZvUpdate15UI3*>(this);
    return nullptr;
}

STDMETHODIMP ZvUpdate15UIObject::InterfaceSupportsErrorInfo(REFIID riid) {
    for (const IID* iid : {&IID_IZvUpdate15UI, &IID_IZvUpdate15UI2, &IID_IZvUpdate15UI3, &IID_IZvUpdate15Callback})
        if (IsEqualIID(riid, *iid))
            return S_OK;
    return S_FALSE;
}

HRESULT ZvUpdate15UIObject::OnWizard(const std::function<HRESULT(UpdateWizard&)>& work) {
    UpdateWizard* wizard = wizard_.load();
    if (!wizard)
        return E_ABORT;
    return wizard->RunOnWizardThread([&] { return work(*wizard); });
}

DWORD WINAPI ZvUpdate15UIObject::WizardThreadProc(void* parameter) {
    auto* self = static_cast<ZvUpdate15UIObject*>(parameter);
    if (!self)
        return ERROR_INVALID_PARAMETER;
    const HRESULT com = CoInitialize(nullptr);
    DWORD exitCode = ERROR_INVALID_HANDLE;
    {
        UpdateWizard wizard(self->sysPackVersion_, self->zvId_);
        HWND window = wizard.Create();
        if (window) {
            MarkHubBusy(window);
            ShowWindow(window, self->showFlag_ ? SW_SHOW : SW_HIDE);
            self->wizard_ = &wizard;
            SetEvent(self->readyEvent_);
            MSG message;
            int result;
            while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
                if (!IsDialogMessageW(window, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            exitCode = result == 0 ? static_cast<DWORD>(message.wParam) : 1;
            self->wizard_ = nullptr;
            DestroyWindow(window);
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return exitCode;
}

STDMETHODIMP ZvUpdate15UIObject::CreateUpdateDialog(long isShow) {
    showFlag_ = isShow;
    if (wizard_.load())
        return E_ABORT;
    DestroyUpdateDialog();
    thread_.Reset();
    com::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready)
        return E_FAIL;
    readyEvent_ = ready.Get();
    DWORD threadId = 0;
    thread_.Reset(CreateThread(nullptr, 0, WizardThreadProc, this, CREATE_SUSPENDED, &threadId));
    if (!thread_) {
        readyEvent_ = nullptr;
        return E_FAIL;
    }
    ResumeThread(thread_.Get());
    // A thread that ends without a window ends the wait too: nothing would signal the event.
    const bool created = WaitForReadyOrEnd(ready.Get(), thread_.Get());
    readyEvent_ = nullptr;
    if (!created) {
        thread_.Reset();
        return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP ZvUpdate15UIObject::DestroyUpdateDialog() {
    if (UpdateWizard* wizard = wizard_.load())
        PostMessageW(wizard->Window(), WM_COMMAND, IDOK, 0);
    if (thread_) {
        WaitForThreadWithPump(thread_.Get());
        thread_.Reset();
    }
    return S_OK;
}

STDMETHODIMP ZvUpdate15UIObject::ShowUpdateDialog(long isShow) {
    showFlag_ = isShow;
    return OnWizard([isShow](UpdateWizard& w) {
        ShowWindow(w.Window(), isShow ? SW_SHOW : SW_HIDE);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::SetUpdateDialogTitle(BSTR bsTitle) {
    return OnWizard([t = Text(bsTitle)](UpdateWizard& w) {
        w.SetTitle(t);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::SetUpdateDialogText(BSTR bsText) {
    return OnWizard([t = Text(bsText)](UpdateWizard& w) {
        w.SetHeader(&t, nullptr);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::SetUpdateDialogSubtext(BSTR bsSubtext) {
    return OnWizard([t = Text(bsSubtext)](UpdateWizard& w) {
        w.SetHeader(nullptr, &t);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::SetUpdateDialogLabel(tagZvUpdate15Label nID) {
    return OnWizard([nID](UpdateWizard& w) {
        w.SetLabel(nID);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::GetPressedButton(tagZvUpdate15Button* pVal) {
    return ReadOnWizard(pVal, [](UpdateWizard& w) { return ButtonOf(w.PressedButton()); });
}

STDMETHODIMP ZvUpdate15UIObject::ConfigButton(tagZvUpdate15Button nButton, BSTR bsText, long isEnabled, long isVisible,
                                              long bFlags) {
    return OnWizard([&, t = Text(bsText)](UpdateWizard& w) {
        const int id = nButton == ZUB_BACK ? IDC_WIZARD_BACK : nButton == ZUB_NEXT ? IDC_WIZARD_NEXT
                                                           : nButton == ZUB_CANCEL ? IDCANCEL
                                                                                   : 0;
        if (id)
            w.ConfigButton(id, t, isEnabled, isVisible, bFlags);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::WaitButtons(long nTimeOut, tagZvUpdate15Button* pVal) {
    // The wait holds a handle of its own to the wizard's button event: the wizard may end while
    // the wait dispatches messages, and the handle it owns goes with it.
    com::UniqueHandle event;
    const HRESULT hr = OnWizard([&event](UpdateWizard& w) {
        HANDLE own = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), w.ButtonEvent(), GetCurrentProcess(), &own, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            return com::LastErrorHResult();
        event.Reset(own);
        return S_OK;
    });
    if (FAILED(hr))
        return hr;
    ResetEvent(event.Get());
    WaitWithMessagePump(event.Get(), nTimeOut == 0 ? INFINITE : static_cast<DWORD>(nTimeOut));
    return GetPressedButton(pVal);
}

STDMETHODIMP ZvUpdate15UIObject::SetPageData(tagZvUpdate15Page nPage) {
    return nPage >= kFirstPage && nPage <= kPageCount ? S_OK : E_FAIL;
}

STDMETHODIMP ZvUpdate15UIObject::GetPageData(tagZvUpdate15Page nPage) {
    return SetPageData(nPage);
}

STDMETHODIMP ZvUpdate15UIObject::ShowPage(tagZvUpdate15Page nPage, long isShow) {
    UpdateWizard* wizard = wizard_.load();
    if (!wizard)
        return E_ABORT;
    SendMessageW(wizard->Window(), isShow ? kShowPageMessage : kHidePageMessage, nPage, 1);
    return S_OK;
}

HRESULT ZvUpdate15UIObject::RunPage(int page, bool handWizard) {
    HRESULT hr = SetPageData(static_cast<tagZvUpdate15Page>(page));
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = ShowPage(static_cast<tagZvUpdate15Page>(page), 1)))
        return hr;
    if (handWizard) {
        OnWizard([page](UpdateWizard& w) {
            w.HandPageTheWizard(page - kFirstPage);
            return S_OK;
        });
    }
    tagZvUpdate15Button pressed = ZUB_UNKNOWN;
    WaitButtons(-1, &pressed);
    ShowPage(static_cast<tagZvUpdate15Page>(page), 0);
    return GetPageData(static_cast<tagZvUpdate15Page>(page));
}

STDMETHODIMP ZvUpdate15UIObject::SelectUpdateLevel(tagZvUpdate15Level* pVal) {
    if (!pVal)
        return E_POINTER;
    const HRESULT hr = RunPage(ZUP_00, false);
    if (FAILED(hr))
        return hr;
    return get_ZUP00_UpdateLevel(pVal);
}

STDMETHODIMP ZvUpdate15UIObject::SelectUpdateFiles() {
    return RunPage(ZUP_01, true);
}

STDMETHODIMP ZvUpdate15UIObject::AdvancedSelectUpdateFiles() {
    return RunPage(ZUP_06, true);
}

STDMETHODIMP ZvUpdate15UIObject::SelectDevice(BSTR* pbsZvID) {
    if (!pbsZvID)
        return E_POINTER;
    *pbsZvID = nullptr;
    const HRESULT hr = RunPage(ZUP_04, true);
    if (FAILED(hr))
        return hr;
    return ZUP04_GetSelectedDeviceZvID(pbsZvID);
}

STDMETHODIMP ZvUpdate15UIObject::GetComponentVersion(BSTR* pVal) {
    return CopyOut(kComponentVersion, pVal);
}

// ---- properties of the object ----

STDMETHODIMP ZvUpdate15UIObject::get_SysPackVersion(BSTR* pVal) {
    return CopyOut(sysPackVersion_, pVal);
}
STDMETHODIMP ZvUpdate15UIObject::put_SysPackVersion(BSTR newVal) {
    if (!newVal)
        return E_INVALIDARG;
    sysPackVersion_ = Text(newVal);
    return S_OK;
}
STDMETHODIMP ZvUpdate15UIObject::get_ZvID(BSTR* pVal) {
    return CopyOut(zvId_, pVal);
}
STDMETHODIMP ZvUpdate15UIObject::put_ZvID(BSTR newVal) {
    if (!newVal)
        return E_INVALIDARG;
    zvId_ = Text(newVal);
    return S_OK;
}

// ---- update level page ----

STDMETHODIMP ZvUpdate15UIObject::get_ZUP00_UpdateLevel(tagZvUpdate15Level* pVal) {
    return ReadOnWizard(pVal, [](UpdateWizard& w) { return static_cast<tagZvUpdate15Level>(w.level); });
}
STDMETHODIMP ZvUpdate15UIObject::put_ZUP00_UpdateLevel(tagZvUpdate15Level newVal) {
    return OnWizard([newVal](UpdateWizard& w) {
        w.level = newVal;
        w.RedrawLevelPage();
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::get_ZUP00_RecommendedUpdateLevel(tagZvUpdate15Level* pVal) {
    return ReadOnWizard(pVal,
                        [](UpdateWizard& w) { return static_cast<tagZvUpdate15Level>(w.recommendedLevel); });
}
STDMETHODIMP ZvUpdate15UIObject::put_ZUP00_RecommendedUpdateLevel(tagZvUpdate15Level newVal) {
    return OnWizard([newVal](UpdateWizard& w) {
        w.recommendedLevel = newVal;
        w.RedrawLevelPage();
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP00_SetUpdateLevelName(tagZvUpdate15Level level, BSTR bsName) {
    return OnWizard([level, t = Text(bsName)](UpdateWizard& w) {
        if (level >= ZUL_ONE && level <= ZUL_THREE)
            w.levelNames[level - 1] = t;
        w.RedrawLevelPage();
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP00_SetUpdateLevelDescription(tagZvUpdate15Level level, BSTR bsDescription) {
    return OnWizard([level, t = Text(bsDescription)](UpdateWizard& w) {
        if (level >= ZUL_ONE && level <= ZUL_THREE)
            w.levelDescriptions[level - 1] = t;
        w.RedrawLevelPage();
        return S_OK;
    });
}

// ---- file pages ----

#define TV_FILE_PAGE_PROPERTIES(Prefix, advanced)                                                            \
    STDMETHODIMP ZvUpdate15UIObject::get_##Prefix##_SelectAll(long* pVal) {                                  \
        return ReadOnWizard(pVal, [](UpdateWizard& w) { return w.Files(advanced).selectAll; });              \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::put_##Prefix##_SelectAll(long newVal) {                                 \
        return OnWizard([newVal](UpdateWizard& w) {                                                          \
            w.Files(advanced).selectAll = newVal != 0;                                                       \
            w.ApplySelectAll(advanced);                                                                      \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::get_##Prefix##_FormatFlash(long* pVal) {                                \
        return ReadOnWizard(pVal, [](UpdateWizard& w) { return w.Files(advanced).formatFlash; });            \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::put_##Prefix##_FormatFlash(long newVal) {                               \
        return OnWizard([newVal](UpdateWizard& w) {                                                          \
            w.Files(advanced).formatFlash = newVal != 0;                                                     \
            w.ApplyFormatFlash(advanced);                                                                    \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::get_##Prefix##_FreeSpace(long* pVal) {                                  \
        return ReadOnWizard(                                                                                 \
            pVal, [](UpdateWizard& w) { return zvupdate::ClampToLong(w.Files(advanced).freeSpace); });       \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::put_##Prefix##_FreeSpace(long newVal) {                                 \
        return OnWizard([newVal](UpdateWizard& w) {                                                          \
            w.Files(advanced).freeSpace = newVal;                                                            \
            w.RecomputeSpace(advanced);                                                                      \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::get_##Prefix##_TotalSpace(long* pVal) {                                 \
        return ReadOnWizard(                                                                                 \
            pVal, [](UpdateWizard& w) { return zvupdate::ClampToLong(w.Files(advanced).totalSpace); });      \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::put_##Prefix##_TotalSpace(long newVal) {                                \
        return OnWizard([newVal](UpdateWizard& w) {                                                          \
            w.Files(advanced).totalSpace = newVal;                                                           \
            w.RecomputeSpace(advanced);                                                                      \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::get_##Prefix##_RequiredSpace(long* pVal) {                              \
        return ReadOnWizard(pVal, [](UpdateWizard& w) { return w.Files(advanced).requiredSpace; });          \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::put_##Prefix##_RequiredSpace(long newVal) {                             \
        return OnWizard([newVal](UpdateWizard& w) {                                                          \
            w.Files(advanced).requiredSpace = newVal;                                                        \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_GetUpdateFilesCount(long* pCount) {                            \
        return FileCount(advanced, false, pCount);                                                           \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_GetUpdateFileName(long index, BSTR* pbsName) {                 \
        return FileName(advanced, false, index, pbsName);                                                    \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_GetToDeleteFilesCount(long* pCount) {                          \
        return FileCount(advanced, true, pCount);                                                            \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_GetToDeleteFileName(long index, BSTR* pbsName) {               \
        return FileName(advanced, true, index, pbsName);                                                     \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_RemoveAllUpdateFiles() {                                       \
        return OnWizard([](UpdateWizard& w) {                                                                \
            w.Files(advanced).updates.clear();                                                               \
            w.RefillFiles(advanced);                                                                         \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_RemoveAllDeviceFiles() {                                       \
        return OnWizard([](UpdateWizard& w) {                                                                \
            w.Files(advanced).devices.clear();                                                               \
            w.RecomputeSpace(advanced);                                                                      \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_ConfigSelectAll(BSTR bsText, long isEnabled, long isVisible,   \
                                                              long bFlags) {                                 \
        return OnWizard([&, t = Text(bsText)](UpdateWizard& w) {                                             \
            ConfigureControl(                                                                                \
                GetDlgItem(w.Page(advanced ? 6 : 1), advanced ? IDC_ADVANCED_ALL : IDC_FILES_ALL), t,        \
                isEnabled, isVisible, bFlags);                                                               \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_ConfigFormatFlash(BSTR bsText, long isEnabled, long isVisible, \
                                                                long bFlags) {                               \
        return OnWizard([&, t = Text(bsText)](UpdateWizard& w) {                                             \
            ConfigureControl(                                                                                \
                GetDlgItem(w.Page(advanced ? 6 : 1), advanced ? IDC_ADVANCED_FORMAT : IDC_FILES_FORMAT), t,  \
                isEnabled, isVisible, bFlags);                                                               \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::Prefix##_SetText(BSTR bsText) {                                         \
        return OnWizard([t = Text(bsText)](UpdateWizard& w) {                                                \
            w.SetPageText(advanced ? 6 : 1, advanced ? IDC_ADVANCED_TEXT : IDC_FILES_TEXT, t);               \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }

TV_FILE_PAGE_PROPERTIES(ZUP01, false)
TV_FILE_PAGE_PROPERTIES(ZUP06, true)
#undef TV_FILE_PAGE_PROPERTIES

HRESULT ZvUpdate15UIObject::FileCount(bool advanced, bool toDelete, long* pCount) {
    if (!pCount)
        return E_POINTER;
    return OnWizard([=](UpdateWizard& w) {
        const FilePageState& state = w.Files(advanced);
        *pCount = static_cast<long>(toDelete ? state.devices.size() : state.updates.size());
        return S_OK;
    });
}

HRESULT ZvUpdate15UIObject::FileName(bool advanced, bool toDelete, long index, BSTR* pbsName) {
    if (!pbsName)
        return E_POINTER;
    *pbsName = nullptr;
    return OnWizard([=](UpdateWizard& w) {
        const FilePageState& state = w.Files(advanced);
        const size_t count = toDelete ? state.devices.size() : state.updates.size();
        if (index < 0 || static_cast<size_t>(index) >= count)
            return E_INVALIDARG;
        const std::string& name = toDelete ? state.devices[index].name : state.updates[index].name;
        return com::AnsiToBstr(name, pbsName);
    });
}

STDMETHODIMP ZvUpdate15UIObject::ZUP01_AddUpdateFile(BSTR bsName, long nLength, long lParam, BSTR bsDescription) {
    zvupdate::UpdateFile file;
    file.name = file.appName = Narrow(bsName);
    file.length = nLength;
    file.selected = lParam != 0;
    file.description = Narrow(bsDescription);
    return OnWizard([&](UpdateWizard& w) {
        w.Files(false).updates.push_back(file);
        w.RefillFiles(false);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::ZUP01_AddDeviceFile(BSTR bsName, long nLength, long lParam, BSTR bsDescription) {
    zvupdate::DeviceFile file;
    file.name = Narrow(bsName);
    file.length = nLength;
    file.flag = lParam != 0;
    file.description = Narrow(bsDescription);
    return OnWizard([&](UpdateWizard& w) {
        w.Files(false).devices.push_back(file);
        w.RecomputeSpace(false);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::ZUP06_AddUpdateFile(BSTR bsAppName, BSTR bsDescription, BSTR bsName, long nLength,
                                                     long lParam) {
    zvupdate::UpdateFile file;
    file.appName = Narrow(bsAppName);
    file.description = Narrow(bsDescription);
    file.name = Narrow(bsName);
    file.length = nLength;
    file.selected = lParam != 0;
    return OnWizard([&](UpdateWizard& w) {
        w.Files(true).updates.push_back(file);
        w.RefillFiles(true);
        return S_OK;
    });
}

STDMETHODIMP ZvUpdate15UIObject::ZUP06_AddDeviceFile(BSTR bsName, long nLength) {
    zvupdate::DeviceFile file;
    file.name = Narrow(bsName);
    file.length = nLength;
    return OnWizard([&](UpdateWizard& w) {
        w.Files(true).devices.push_back(file);
        w.RecomputeSpace(true);
        return S_OK;
    });
}

// ---- progress page ----

STDMETHODIMP ZvUpdate15UIObject::ZUP02_EnableProgressEx(long isEnabled) {
    return OnWizard([isEnabled](UpdateWizard& w) {
        w.EnableProgressEx(isEnabled != 0);
        return S_OK;
    });
}

#define TV_PROGRESS_PROPERTY(Name, member, ex, setter)                                                       \
    STDMETHODIMP ZvUpdate15UIObject::get_ZUP02_##Name(long* pVal) {                                          \
        return ReadOnWizard(pVal, [](UpdateWizard& w) { return w.member; });                                 \
    }                                                                                                        \
    STDMETHODIMP ZvUpdate15UIObject::put_ZUP02_##Name(long newVal) {                                         \
        return OnWizard([newVal](UpdateWizard& w) {                                                          \
            w.setter(ex, newVal);                                                                            \
            return S_OK;                                                                                     \
        });                                                                                                  \
    }

TV_PROGRESS_PROPERTY(ProgressRange, range, false, SetRange)
TV_PROGRESS_PROPERTY(ProgressPosition, position, false, SetPosition)
TV_PROGRESS_PROPERTY(ProgressRangeEx, rangeEx, true, SetRange)
TV_PROGRESS_PROPERTY(ProgressPositionEx, positionEx, true, SetPosition)
#undef TV_PROGRESS_PROPERTY

STDMETHODIMP ZvUpdate15UIObject::ZUP02_SetProgressText(BSTR bsText) {
    return OnWizard([t = Text(bsText)](UpdateWizard& w) {
        w.SetProgressText(false, t);
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP02_SetProgressTextEx(BSTR bsText) {
    return OnWizard([t = Text(bsText)](UpdateWizard& w) {
        w.SetProgressText(true, t);
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP02_AutoProgressStart(long nTime, long count) {
    return OnWizard([=](UpdateWizard& w) {
        w.AutoProgressStart(nTime, count);
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP02_AutoProgressWait() {
    return OnWizard([](UpdateWizard& w) {
        w.AutoProgressWait();
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP02_AutoProgressResume() {
    return OnWizard([](UpdateWizard& w) {
        w.AutoProgressResume();
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP02_AutoProgressStop() {
    return OnWizard([](UpdateWizard& w) {
        w.AutoProgressStop();
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP02_ShowAnimate(tagZvUpdate15Animate nID) {
    return OnWizard([nID](UpdateWizard& w) {
        w.ShowAnimation(nID);
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP02_HideAnimate() {
    return OnWizard([](UpdateWizard& w) {
        w.HideAnimation();
        return S_OK;
    });
}

// ---- message, device and finish pages ----

#define TV_PAGE_TEXT(Method, page, control)                                                                            \
    STDMETHODIMP ZvUpdate15UIObject::Method(BSTR text) {                                                               \
        return OnWizard([t = Text(text)](UpdateWizard& w) {                                                            \
            w.SetPageText(page, control, t);                                                                           \
            return S_OK;                                                                                               \
        });                                                                                                            \
    }

TV_PAGE_TEXT(ZUP03_SetText, 3, IDC_MESSAGE_TEXT)
TV_PAGE_TEXT(ZUP03_SetButtonText, 3, IDC_MESSAGE_BUTTON_TEXT)
TV_PAGE_TEXT(ZUP04_SetText, 4, IDC_DEVICES_TEXT)
TV_PAGE_TEXT(ZUP04_SetButtonText, 4, IDC_DEVICES_BUTTON_TEXT)
TV_PAGE_TEXT(ZUP05_SetText, 5, IDC_FINISH_TEXT)
TV_PAGE_TEXT(ZUP05_SetSunkenText, 5, IDC_FINISH_SUNKEN_TEXT)
TV_PAGE_TEXT(ZUP05_SetButtonText, 5, IDC_FINISH_BUTTON_TEXT)
#undef TV_PAGE_TEXT

STDMETHODIMP ZvUpdate15UIObject::ZUP04_AddDeviceInformation(BSTR bsName, BSTR bsSysPackVersion, BSTR bsZvID,
                                                            BSTR bsDescription) {
    DeviceRow row{Text(bsName), Text(bsSysPackVersion), Text(bsZvID), Text(bsDescription)};
    return OnWizard([&](UpdateWizard& w) {
        w.AddDeviceRow(row);
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP04_RemoveAllDeviceInformation() {
    return OnWizard([](UpdateWizard& w) {
        w.RemoveDeviceRows();
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP04_GetSelectedDeviceZvID(BSTR* pbsZvID) {
    if (!pbsZvID)
        return E_POINTER;
    return OnWizard([pbsZvID](UpdateWizard& w) { return CopyOut(w.selectedDeviceId, pbsZvID); });
}
STDMETHODIMP ZvUpdate15UIObject::get_ZUP04_SelectedDeviceZvID(BSTR* pVal) {
    return ZUP04_GetSelectedDeviceZvID(pVal);
}
STDMETHODIMP ZvUpdate15UIObject::put_ZUP04_SelectedDeviceZvID(BSTR newVal) {
    return OnWizard([t = Text(newVal)](UpdateWizard& w) {
        w.SelectDeviceId(t);
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::get_ZUP04_UnknownDevice(long* pVal) {
    return ReadOnWizard(pVal, [](UpdateWizard& w) { return w.unknownDevice; });
}
STDMETHODIMP ZvUpdate15UIObject::put_ZUP04_UnknownDevice(long newVal) {
    return OnWizard([newVal](UpdateWizard& w) {
        w.SetUnknownDevice(newVal != 0);
        return S_OK;
    });
}
STDMETHODIMP ZvUpdate15UIObject::ZUP04_ConfigUnknownDeviceButton(BSTR bsText, long isEnabled, long isVisible,
                                                                 long bFlags) {
    return OnWizard([&, t = Text(bsText)](UpdateWizard& w) {
        ConfigureControl(GetDlgItem(w.Page(4), IDC_DEVICES_UNKNOWN), t, isEnabled, isVisible, bFlags);
        return S_OK;
    });
}

} // namespace tv::update
