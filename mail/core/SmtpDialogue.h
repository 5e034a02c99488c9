// The SMTP-style dialogue with the device service's mail server, spoken over a line channel.
// Sending: HELO with the device user, then per letter MAIL FROM, RCPT TO, DATA and the message;
// every reply is read one step behind the command it answers, and each message is followed by an
// empty line that the server answers too. A letter with a refused recipient is abandoned before
// DATA (RSET) and fails alone; the letters after it are still sent. Receiving: after TURN the
// roles are reversed and the server delivers the user's letters with MAIL FROM, RCPT TO and DATA,
// which we answer.
#pragma once
#include "LineChannel.h"
#include "MailResult.h"
#include <string>
#include <vector>

namespace tv::mail {

struct Letter {
    std::string from;
    std::string to;
    std::string message;
};

// The letters to send, taken in order; each accepted one is acknowledged by its position.
class OutgoingLetters {
  public:
    struct View {
        const char* from = nullptr;
        const char* to = nullptr;
        const char* message = nullptr;
    };
    virtual ~OutgoingLetters() = default;
    // The next letter; false at the end.
    virtual bool Next(View& letter) = 0;
    virtual void Acknowledge(long position) = 0;
};

class SmtpDialogue {
  public:
    enum class State { Greeted = 1, Receiving = 2, LetterIn = 3, NotGreeted = 4 };

    // The largest message accepted while receiving.
    static constexpr size_t kLargestReceived = 64u * 1024 * 1024;

    SmtpDialogue(LineChannel& channel, std::string mailDomain, Tracer trace)
        : channel_(channel), domain_(std::move(mailDomain)), trace_(std::move(trace)) {}

    // Sends every letter on behalf of `user`; accepted letters are acknowledged as they go.
    // Unexpected when a letter could not go (a recipient refused, or one that cannot go on a
    // command line) but the others were sent; Fail when the dialogue itself broke off.
    MailResult Send(const std::string& user, OutgoingLetters& letters);
    // The next letter the server delivers after TURN; NoLetter when it says QUIT.
    MailResult Receive(const std::string& user, Letter& letter);
    // Every delivered letter, each handed to `take` (which answers whether it kept the letter) and
    // accepted, or refused with a transient failure when it was not kept.
    template <class Take> MailResult ReceiveAll(const std::string& user, Take take);
    // Accepts the received letter (0) or refuses it (nonzero; the server keeps it).
    MailResult EndReceive(long error);
    MailResult Disconnect();

    State CurrentState() const { return state_; }

    static constexpr int64_t kTimeoutMs = 30000;

  private:
    MailResult Greet(const std::string& user);
    MailResult StartReceiving(const std::string& user);
    MailResult ReceiveLetter(Letter& letter);
    MailResult SendLetter(const std::string& user, const std::vector<std::string>& recipients,
                          const OutgoingLetters::View& letter);
    // Answers the received letter and waits for the next one.
    void Answer(const char* verdict);
    static constexpr const char* kCouldNotKeep = "451 error";
    template <class Step> MailResult Guarded(const char* what, Step step);
    void Trace(const std::string& text) const {
        if (trace_)
            trace_(text);
    }

    LineChannel& channel_;
    std::string domain_;
    Tracer trace_;
    State state_ = State::NotGreeted;
};

template <class Step> MailResult SmtpDialogue::Guarded(const char* what, Step step) {
    try {
        return step();
    } catch (const ChannelError& error) {
        Trace(std::string("SMTP ") + what + ": connection failed (" + std::to_string(error.Code()) + ")");
        channel_.SetTimeout(TimeValue::FromMilliseconds(kTimeoutMs));
        state_ = State::NotGreeted;
        return MailResult::Fail;
    }
}

template <class Take> MailResult SmtpDialogue::ReceiveAll(const std::string& user, Take take) {
    bool tookAny = false;
    MailResult result = Guarded("ReceiveAll", [&] {
        MailResult started = StartReceiving(user);
        if (started != MailResult::Ok)
            return started;
        for (;;) {
            Letter letter;
            MailResult got = ReceiveLetter(letter);
            if (got == MailResult::NoLetter)
                return MailResult::Ok;
            if (got != MailResult::Ok)
                return got;
            if (!take(std::move(letter))) {
                Trace("SMTP: a received letter could not be kept; the server keeps it");
                Answer(kCouldNotKeep);
                continue;
            }
            tookAny = true;
            MailResult ended = EndReceive(0);
            if (ended != MailResult::Ok)
                return ended;
        }
    });
    // Each letter was accepted with its own answer, and the server dropped it then: what was
    // taken must reach the caller even when a later letter failed.
    if (result == MailResult::Fail && tookAny) {
        Trace("SMTP: receiving stopped early; the letters taken so far are kept");
        return MailResult::Ok;
    }
    return result;
}

} // namespace tv::mail
