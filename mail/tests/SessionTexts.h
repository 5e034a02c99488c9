// Test-only: the texts a mail synchronizer shows at the end of a session.
#pragma once
#include "E2eSupport.h"
#include "MailSyncIds.h"
#include <cstdio>
#include <string>

namespace tv::mail::testing {

// The completion text of a session that sent and received so many letters.
inline std::string DoneText(long sent, long received) {
    char text[256] = {};
    std::snprintf(text, sizeof text, e2e::LanguageText(IDS_MAILSYNC_DONE).c_str(), sent, received);
    return text;
}

} // namespace tv::mail::testing
