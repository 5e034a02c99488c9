// Text rules the mail dialogues share: dot-stuffing of message lines, the recipient list of a
// letter, addresses safe to put on a command line, and reply codes.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv::mail {

// The message as it goes after DATA: every line that begins with "." gets a second one, and
// the text ends with CR LF "." CR LF. A message already ending with that terminator keeps it
// (its own final "." is not doubled); one without it gets it.
std::string DotStuffMessage(std::string_view message);

// The inverse on received lines: the first "." of a line that begins with one is dropped (a view
// into the line).
std::string_view DotUnstuffLine(std::string_view line);
// The same on a whole text whose lines end with CR LF.
std::string DotUnstuffText(std::string_view text);

// An address may go on a command line when it holds no control character, "<" or ">".
bool IsSafeAddress(std::string_view address);

// The recipients of a list separated by ";", each trimmed of blanks, empty ones skipped; none
// when an address is not safe.
std::optional<std::vector<std::string>> SplitRecipients(std::string_view list);

// The text between the first "<" and the first ">" after it; none when either is missing.
std::optional<std::string> AngleAddress(std::string_view line);

// The reply's first three characters equal `code`.
bool HasReplyCode(std::string_view reply, std::string_view code);

// The first word of the line, compared without case, equals `verb`.
bool HasVerb(std::string_view line, std::string_view verb);
// The text without its leading and trailing blanks and tabs.
std::string_view TrimBlanks(std::string_view text);
// ASCII letters compared without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace tv::mail
