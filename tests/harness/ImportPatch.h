// Sends one function that a loaded module imports to a replacement while the patch lives: the
// module's calls through its import table go to `replacement`. For tests that make a system call
// fail inside a component the way it can fail on a real system.
#pragma once
#include <windows.h>

namespace tv::test {

class ImportPatch {
  public:
    // `module` imports `function` of `dll`; Applied() tells whether its import was found.
    // `replacement` is a function of the same type as `function`.
    ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool Applied() const { return slot_ != nullptr; }

  private:
    static void Write(FARPROC* slot, FARPROC value);

    FARPROC* slot_ = nullptr;
    FARPROC original_ = nullptr;
};

} // namespace tv::test
