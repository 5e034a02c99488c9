#include "Pop3Dialogue.h"
#include "MailText.h"
#include <cstdlib>
#include <sstream>
#include <vector>

namespace tv::mail {

namespace {

bool IsOk(const std::string& reply) {
    return reply.size() > 2 && reply.compare(0, 3, "+OK") == 0;
}
bool IsErr(const std::string& reply) {
    return reply.compare(0, 4, "-ERR") == 0;
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (in >> part)
        parts.push_back(part);
    return parts;
}

// A decimal number that is a whole part and fits; -1 otherwise.
long ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::strtol(text.c_str(), nullptr, 10);
}

// The longest text a message may grow to while it is read: far above what a server that keeps
// to its own LIST size sends, low enough that a runaway server cannot exhaust memory.
constexpr size_t kRunawayText = 16u * Pop3Dialogue::kLargestMessage;

} // namespace

bool Pop3Dialogue::Command(const std::string& line, std::string& reply) {
    channel_.SendLine(line);
    reply = channel_.ReadReply();
    return IsOk(reply);
}

MailResult Pop3Dialogue::Login(const std::string& user) {
    if (state_ == State::Ready)
        return MailResult::Ok;
    if (state_ == State::LetterOut)
        return MailResult::Fail;
    if (!IsSafeAddress(user)) {
        Trace("POP3: the user id cannot go on a command line");
        return MailResult::Fail;
    }
    state_ = State::Ready;
    next_ = 1; // a new session numbers its messages from 1
    MailResult result = MailResult::Fail;
    std::string reply;
    if (!Command("USER " + user, reply)) {
        Trace("POP3: greeting refused: " + reply);
    } else if (!Command("PASS ", reply) || !IsOk(reply = channel_.ReadReply())) {
        Trace("POP3: login refused: " + reply);
    } else {
        result = Statistics();
    }
    if (result != MailResult::Ok)
        state_ = State::NotLoggedIn;
    return result;
}

MailResult Pop3Dialogue::Statistics() {
    if (state_ != State::Ready)
        return MailResult::Fail;
    channel_.SendLine("STAT");
    std::string reply = channel_.ReadReply();
    if (IsErr(reply))
        return MailResult::Fail;
    std::vector<std::string> parts = SplitAtBlanks(reply);
    if (parts.size() != 3 || ParseCount(parts[1]) < 0 || ParseCount(parts[2]) < 0)
        return MailResult::Fail;
    count_ = ParseCount(parts[1]);
    return MailResult::Ok;
}

long Pop3Dialogue::MessageSize(long number) {
    if (number > count_)
        return -1;
    channel_.SendLine("LIST " + std::to_string(number));
    std::string reply = channel_.ReadReply();
    if (IsErr(reply))
        return -1;
    std::vector<std::string> parts = SplitAtBlanks(reply);
    if (parts.size() != 3)
        return -1;
    return ParseCount(parts[2]);
}

Pop3Dialogue::Retrieval Pop3Dialogue::Retrieve(long number, std::string& message) {
    state_ = State::LetterOut;
    retrieved_ = number;
    long size = MessageSize(number);
    if (size > kLargestMessage) {
        Trace("POP3: message " + std::to_string(number) + " of " + std::to_string(size) + " bytes declined");
        EndReceive(kDecline);
        return Retrieval::Declined;
    }
    channel_.SendLine("RETR " + std::to_string(number));
    std::string status = channel_.ReadReply();
    if (!IsOk(status)) {
        Trace("POP3: RETR " + std::to_string(number) + " refused: " + status);
        state_ = State::Ready;
        return Retrieval::Failed;
    }
    message.clear();
    if (size > 0)
        message.reserve(static_cast<size_t>(size)); // at most the largest message taken
    bool first = true;
    for (;;) {
        std::string line = channel_.ReadWholeLine();
        if (line == ".")
            break;
        if (!first)
            message += "\r\n";
        message += DotUnstuffLine(line);
        first = false;
        if (message.size() > kRunawayText) {
            Trace("POP3: message " + std::to_string(number) + " never ends");
            throw ChannelError(kEndOfStream);
        }
    }
    return Retrieval::Retrieved;
}

MailResult Pop3Dialogue::Receive(const std::string& user, std::string& message) {
    return Guarded("Receive", [&] {
        if (state_ != State::LetterOut) {
            MailResult login = Login(user);
            if (login != MailResult::Ok)
                return login;
        }
        for (long number = next_; number <= count_; number = next_) {
            Retrieval got = Retrieve(number, message);
            if (got == Retrieval::Retrieved)
                return MailResult::Ok;
            if (got == Retrieval::Failed)
                return MailResult::Fail;
        }
        return MailResult::NoLetter;
    });
}

MailResult Pop3Dialogue::EndReceive(long action) {
    if (state_ != State::LetterOut) {
        Trace("Invalid POP3 server state");
        return MailResult::Fail;
    }
    return Guarded("EndReceive", [&] {
        MailResult result = MailResult::Ok;
        std::string reply;
        if (action == kDelete) {
            if (!Command("DELE " + std::to_string(retrieved_), reply)) {
                Trace("POP3: DELE " + std::to_string(retrieved_) + " refused, message kept: " + reply);
                result = MailResult::Fail;
            }
        } else if (action == kDecline) {
            if (!Command("ERAS " + std::to_string(retrieved_) + " Message was declined by recipient",
                         reply)) {
                Trace("POP3: ERAS " + std::to_string(retrieved_) + " refused, message kept: " + reply);
                result = MailResult::Fail;
            }
        }
        // A refused verdict leaves the message on the server; it is passed over all the same, so
        // that it is never handed out twice.
        next_ = retrieved_ + 1;
        state_ = State::Ready;
        return result;
    });
}

MailResult Pop3Dialogue::Disconnect() {
    if (state_ == State::NotLoggedIn)
        return MailResult::Fail;
    return Guarded("Disconnect", [&] {
        channel_.SendLine("QUIT");
        channel_.ReadReply();
        state_ = State::NotLoggedIn;
        return MailResult::Ok;
    });
}

} // namespace tv::mail
