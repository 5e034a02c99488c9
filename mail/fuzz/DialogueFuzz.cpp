// Fuzz target: the POP3 and SMTP dialogues against a server that answers with arbitrary bytes
// handed out in small pieces. Whatever arrives, a dialogue must end (the scripted peer counts as
// closed once its bytes are used up) without a memory fault.
#include "Pop3Dialogue.h"
#include "SmtpDialogue.h"
#include "testing/ScriptedPeer.h"
#include <cstdint>
#include <string>

using namespace tv::mail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    size_t piece = data[0] % 16 + 1;
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    {
        testing::ScriptedPeer peer(bytes);
        peer.SetPieceSize(piece);
        LineConnection connection(peer);
        Pop3Dialogue pop3(connection, {});
        std::string message;
        if (pop3.Receive("USER", message) == MailResult::Ok)
            pop3.EndReceive(0);
        pop3.ReceiveAll("USER", [](std::string&&) { return true; });
        pop3.Disconnect();
    }
    {
        testing::ScriptedPeer peer(bytes);
        peer.SetPieceSize(piece);
        LineConnection connection(peer);
        SmtpDialogue smtp(connection, "d", {});
        Letter letter;
        if (smtp.Receive("USER", letter) == MailResult::Ok)
            smtp.EndReceive(0);
        smtp.ReceiveAll("USER", [](Letter&&) { return true; });
        smtp.Disconnect();
    }
    return 0;
}
