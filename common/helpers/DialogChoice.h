// The answer of a modeless dialog that runs its own message loop on the calling thread (the
// conflict dialogs of the synchronizers): the loop ends when the dialog answers, and a quit
// message meant for the thread is never taken for an answer.
#pragma once
#include <windows.h>

namespace tv {

class DialogChoice {
  public:
    // From the dialog's procedure (or a call it serves): ends the loop with `choice`. Only the
    // first answer counts.
    void End(int choice);
    bool Ended() const { return ended_; }

    // Dispatches this thread's messages, `dialog` getting its dialog messages first, until End is
    // called, and gives the answer. A quit message that arrives meanwhile ends the loop as well:
    // it is posted again for the thread's own loop and the answer is `otherwise`.
    int Run(HWND dialog, int otherwise);

  private:
    bool ended_ = false;
    int choice_ = 0;
};

} // namespace tv
