// Makes dialogs fail to appear, as they do when the system cannot make a window: while a
// RefusedDialogs lives, no dialog window (class "#32770", message boxes included) can be created
// on the thread that made it or on any thread of this program that starts meanwhile. For tests of
// what a component does when its window cannot be made.
#pragma once
#include <windows.h>

namespace tv::test {

class RefusedDialogs {
  public:
    RefusedDialogs();
    ~RefusedDialogs();
    RefusedDialogs(const RefusedDialogs&) = delete;
    RefusedDialogs& operator=(const RefusedDialogs&) = delete;

  private:
    HHOOK hook_ = nullptr;
};

} // namespace tv::test
