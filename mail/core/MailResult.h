// Results of the portable mail dialogues; the COM clients turn them into HRESULTs.
#pragma once
#include <functional>
#include <string>

namespace tv::mail {

enum class MailResult {
    Ok,         // done (a letter was handed out where one was asked for)
    NoLetter,   // nothing waiting
    Fail,       // refused by the server, or the connection failed
    Unexpected, // refused recipient or unusable letter (SMTP)
};

// Where a dialogue writes its trace lines (one call per line, without a line end).
using Tracer = std::function<void(const std::string&)>;

} // namespace tv::mail
