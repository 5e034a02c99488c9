// The questions asked before a device item is replaced, or a read-only one deleted: the dialogs
// both device generations share.
#pragma once

#include "OverwriteQuestion.h"

namespace devlink15 {

using tv::ConfirmAnswer;
using tv::ConfirmQuestion;
using tv::OverwriteDlg;
using tv::ReadOnlyDeleteDlg;
using tv::SystemOverwriteDlg;

} // namespace devlink15
