// The asker of an install script: a yes/no question in a window of its own thread, whose
// answer may be kept for every later question ("Yes to all", "No to all"). AskUser returns only
// once that thread has ended, and keeps the object alive until then; a quit for the calling
// thread closes the question, fails the call (E_ABORT) and is posted again.
#pragma once
#include "CapLinker.h"
#include "ComObject.h"
#include "Handles.h"
#include "TypeInfoDispatch.h"
#include <atomic>
#include <string>

namespace tv::caplinker {

class ZvCAPAsker : public com::ComObject<ZvCAPAsker, IZvCAPAsker> {
public:
    explicit ZvCAPAsker(HMODULE language) : language_(language) {}

    void* QueryOtherInterface(REFIID riid);

    STDMETHODIMP FlushState() override;
    STDMETHODIMP AskUser(BSTR strAskCapt, BSTR strAskText, LONG* isYes) override;
    TV_DUAL_DISPATCH(IZvCAPAsker, dispatch_)

private:
    enum class Kept { None, Yes, No };

    static DWORD WINAPI QuestionThread(void* self);
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void Answer(HWND dialog, LONG answer, Kept keep);

    HMODULE language_;
    com::TypeInfoDispatch dispatch_{IID_IZvCAPAsker};
    Kept kept_ = Kept::None;
    std::wstring caption_;
    std::wstring text_;
    com::UniqueHandle thread_;
    std::atomic<HWND> dialog_{nullptr}; // set and cleared by the question's thread
    LONG answer_ = 0;
};

} // namespace tv::caplinker
