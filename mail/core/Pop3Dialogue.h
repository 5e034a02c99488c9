// The POP3 side of the device service's mail server, spoken over a line channel: login with
// the device user and an empty password (the greeting is read only after USER), the message
// count, and messages retrieved one at a time, each finished by deleting it, declining it
// (ERAS) or keeping it.
#pragma once
#include "LineChannel.h"
#include "MailResult.h"
#include <string>

namespace tv::mail {

class Pop3Dialogue {
  public:
    enum class State { Ready = 0, LetterOut = 1, NotLoggedIn = 2 };

    // Messages larger than this are declined on the server instead of being retrieved.
    static constexpr long kLargestMessage = 400000;
    // What EndReceive takes: delete, keep, decline.
    static constexpr long kDelete = 0;
    static constexpr long kKeep = 1;
    static constexpr long kDecline = 2;

    Pop3Dialogue(LineChannel& channel, Tracer trace) : channel_(channel), trace_(std::move(trace)) {}

    // The next waiting message's text (dot-unstuffed, lines joined by CR LF); NoLetter when none
    // is left; Fail when the login is refused or the connection fails.
    MailResult Receive(const std::string& user, std::string& message);
    // Every waiting message, each handed to `take` (which answers whether it kept the message) and
    // then deleted on the server, or left there when it was not kept. The server deletes only at
    // QUIT, so any failure fails the whole receive: the caller must drop what it was handed.
    template <class Take> MailResult ReceiveAll(const std::string& user, Take take);
    // Finishes the retrieved message: kDelete, kKeep or kDecline. A refused DELE or ERAS leaves
    // the message on the server and answers Fail, but the dialogue has passed over it all the
    // same: the next Receive takes the next message.
    MailResult EndReceive(long action);
    MailResult Disconnect();

    State CurrentState() const { return state_; }
    long NextMessage() const { return next_; }

  private:
    enum class Retrieval { Failed, Retrieved, Declined };

    MailResult Login(const std::string& user);
    MailResult Statistics();
    long MessageSize(long number);
    Retrieval Retrieve(long number, std::string& message);
    bool Command(const std::string& line, std::string& reply);
    // Runs `step`, turning a connection failure into Fail and a not-logged-in state.
    template <class Step> MailResult Guarded(const char* what, Step step);
    void Trace(const std::string& text) const {
        if (trace_)
            trace_(text);
    }

    LineChannel& channel_;
    Tracer trace_;
    State state_ = State::NotLoggedIn;
    long next_ = 1;      // the first message not yet finished
    long retrieved_ = 0; // the message out, which EndReceive finishes
    long count_ = 0;
};

template <class Take> MailResult Pop3Dialogue::ReceiveAll(const std::string& user, Take take) {
    return Guarded("ReceiveAll", [&] {
        MailResult login = Login(user); // refused while a message is out
        if (login != MailResult::Ok)
            return login;
        for (long number = next_; number <= count_; number = next_) {
            std::string message;
            Retrieval got = Retrieve(number, message);
            if (got == Retrieval::Failed)
                return MailResult::Fail;
            if (got == Retrieval::Declined)
                continue;
            const bool kept = take(std::move(message));
            if (!kept)
                Trace("POP3: message " + std::to_string(number) +
                      " could not be kept; it stays on the server");
            // A refused DELE has passed over the message already; only a lost connection ends.
            if (EndReceive(kept ? kDelete : kKeep) != MailResult::Ok && state_ == State::NotLoggedIn)
                return MailResult::Fail;
        }
        return MailResult::Ok;
    });
}

template <class Step> MailResult Pop3Dialogue::Guarded(const char* what, Step step) {
    try {
        return step();
    } catch (const ChannelError& error) {
        Trace(std::string("POP3 ") + what + ": connection failed (" + std::to_string(error.Code()) + ")");
        state_ = State::NotLoggedIn;
        return MailResult::Fail;
    }
}

} // namespace tv::mail
