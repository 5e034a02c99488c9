#include "SmtpDialogue.h"
#include "MailText.h"

namespace tv::mail {

namespace {

constexpr std::string_view kDataEnd = "\r\n.\r\n";
constexpr size_t kRawPiece = 255;

} // namespace

MailResult SmtpDialogue::Greet(const std::string& user) {
    if (state_ == State::Greeted)
        return MailResult::Ok;
    if (!IsSafeAddress(user)) {
        Trace("SMTP: the user id cannot go on a command line");
        return MailResult::Fail;
    }
    channel_.SendLine("HELO " + user);
    std::string reply = channel_.ReadReply();
    if (!HasReplyCode(reply, "220")) {
        Trace("SMTP: greeting refused: " + reply);
        return MailResult::Fail;
    }
    state_ = State::Greeted;
    return MailResult::Ok;
}

MailResult SmtpDialogue::SendLetter(const std::string& user, const std::vector<std::string>& recipients,
                                    const OutgoingLetters::View& letter) {
    channel_.SendLine("MAIL FROM:<" + user + "@" + domain_ + ">");
    channel_.ReadReply(); // answers HELO, or the line after the previous letter
    // Each check reads the answer to the command before; the answer to the last recipient (or to
    // MAIL FROM when there is none) is read before DATA, so that a refusal is known while the
    // letter can still be abandoned: after DATA it would reach the recipients that were accepted.
    for (size_t i = 0; i <= recipients.size(); ++i) {
        const bool sending = i < recipients.size();
        if (sending)
            channel_.SendLine("RCPT TO:<" + recipients[i] + ">");
        const std::string reply = channel_.ReadReply();
        if (!HasReplyCode(reply, "250")) {
            Trace("SMTP: recipient refused: " + reply);
            if (sending)
                channel_.ReadReply(); // answers the recipient just sent
            // The letter is abandoned. The answer to RSET is read one step behind, as the answer
            // to the empty line after a message is.
            channel_.SendLine("RSET");
            return MailResult::Unexpected;
        }
    }
    channel_.SendLine("DATA");
    std::string reply = channel_.ReadReply();
    if (!HasReplyCode(reply, "354")) {
        Trace("SMTP: DATA refused: " + reply);
        return MailResult::Fail;
    }
    std::string_view message = letter.message ? letter.message : "";
    channel_.SetTimeout(TimeValue::FromMilliseconds(static_cast<int64_t>(message.size()) + kTimeoutMs));
    channel_.SendLine(DotStuffMessage(message));
    reply = channel_.ReadReply();
    channel_.SetTimeout(TimeValue::FromMilliseconds(kTimeoutMs));
    if (!HasReplyCode(reply, "250")) {
        Trace("SMTP: message refused: " + reply);
        return MailResult::Fail;
    }
    return MailResult::Ok;
}

MailResult SmtpDialogue::Send(const std::string& user, OutgoingLetters& letters) {
    return Guarded("Send", [&] {
        if (state_ != State::Greeted && Greet(user) != MailResult::Ok)
            return MailResult::Fail;
        bool allSent = true;
        for (long position = 0;; ++position) {
            OutgoingLetters::View letter;
            if (!letters.Next(letter)) {
                channel_.ReadReply(); // answers HELO, or the empty line after the last message
                return allSent ? MailResult::Ok : MailResult::Unexpected;
            }
            // A letter whose recipients cannot go on a command line fails alone, before any
            // command: it stays unacknowledged and the others go on.
            auto recipients = letter.to ? SplitRecipients(letter.to) : std::nullopt;
            if (!recipients) {
                Trace(std::string("SMTP: letter ") + std::to_string(position) +
                      (letter.to ? " has a recipient that cannot go on a command line; not sent"
                                 : " has no recipients; not sent"));
                allSent = false;
                continue;
            }
            MailResult sent = SendLetter(user, *recipients, letter);
            if (sent == MailResult::Unexpected) {
                allSent = false; // refused by the server: this letter fails alone
                continue;
            }
            if (sent != MailResult::Ok)
                return sent;
            letters.Acknowledge(position);
        }
    });
}

MailResult SmtpDialogue::StartReceiving(const std::string& user) {
    if (state_ == State::Receiving)
        return MailResult::Ok;
    if (state_ == State::LetterIn) {
        Trace("SMTP: the received letter was not ended");
        return MailResult::Fail;
    }
    if (state_ != State::Greeted) {
        if (Greet(user) != MailResult::Ok)
            return MailResult::Fail;
        channel_.ReadReply(); // answers HELO
    }
    channel_.SendLine("TURN");
    channel_.ReadReply();
    state_ = State::Receiving;
    return MailResult::Ok;
}

MailResult SmtpDialogue::ReceiveLetter(Letter& letter) {
    if (state_ != State::Receiving)
        return MailResult::NoLetter;
    std::string line = channel_.ReadWholeLine();
    if (HasVerb(line, "QUIT"))
        return MailResult::NoLetter;
    auto from = AngleAddress(line);
    if (!from) {
        Trace("SMTP: no sender in " + line);
        return MailResult::Fail;
    }
    channel_.SendLine("250 ok");
    line = channel_.ReadWholeLine();
    auto to = AngleAddress(line);
    if (!to) {
        Trace("SMTP: no recipient in " + line);
        return MailResult::Fail;
    }
    channel_.SendLine("250 ok");
    channel_.ReadWholeLine(); // the data command
    channel_.SendLine("354 ok");
    std::string text;
    for (;;) {
        text += channel_.ReceiveSome(kRawPiece);
        if (text == ".\r\n") { // an empty message
            text.clear();
            break;
        }
        if (text.size() >= kDataEnd.size() &&
            text.compare(text.size() - kDataEnd.size(), kDataEnd.size(), kDataEnd) == 0) {
            text.resize(text.size() - kDataEnd.size());
            break;
        }
        if (text.size() > kLargestReceived) {
            Trace("SMTP: a received message never ends");
            return MailResult::Fail;
        }
    }
    letter.from = std::move(*from);
    letter.to = std::move(*to);
    letter.message = DotUnstuffText(text);
    state_ = State::LetterIn;
    return MailResult::Ok;
}

MailResult SmtpDialogue::Receive(const std::string& user, Letter& letter) {
    return Guarded("Receive", [&] {
        MailResult started = StartReceiving(user);
        if (started != MailResult::Ok)
            return started;
        return ReceiveLetter(letter);
    });
}

void SmtpDialogue::Answer(const char* verdict) {
    channel_.SendLine(verdict);
    state_ = State::Receiving;
}

MailResult SmtpDialogue::EndReceive(long error) {
    if (state_ != State::LetterIn) {
        Trace("Invalid SMTP state");
        return MailResult::Fail;
    }
    return Guarded("EndReceive", [&] {
        Answer(error ? "500 error" : "250 ok");
        return MailResult::Ok;
    });
}

MailResult SmtpDialogue::Disconnect() {
    if (state_ == State::NotGreeted)
        return MailResult::Fail;
    return Guarded("Disconnect", [&] {
        channel_.SendLine("QUIT");
        channel_.ReadReply();
        state_ = State::NotGreeted;
        return MailResult::Ok;
    });
}

} // namespace tv::mail
