// HRESULT helpers: turn a failed Win32 call into an HRESULT in one line and return early.
#pragma once
#include <windows.h>

namespace tv::com {

inline HRESULT LastErrorHResult() {
    DWORD err = GetLastError();
    return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
}

inline HRESULT Win32ToHResult(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

} // namespace tv::com

#define TV_RETURN_IF_FAILED(expr)                                                                            \
    do {                                                                                                     \
        HRESULT tv_hr_ = (expr);                                                                             \
        if (FAILED(tv_hr_))                                                                                  \
            return tv_hr_;                                                                                   \
    } while (0)

#define TV_RETURN_LAST_ERROR_IF(cond)                                                                        \
    do {                                                                                                     \
        if (cond)                                                                                            \
            return ::tv::com::LastErrorHResult();                                                            \
    } while (0)
