// Fuzz target: arbitrary mailbox files. A file that reads must write back to a file that reads
// to the same letters and writes the same bytes again.
#include "MailAddress.h"
#include "MailboxFile.h"
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    tv::mail::DeviceNumberFromAddress(text);
    tv::mail::OwnerNumberFromUserId(text);
    tv::mail::ClassifyAddress(text);
    std::optional<tv::mail::MailboxFile> mailbox = tv::mail::MailboxFile::Parse({data, size});
    if (!mailbox)
        return 0;
    const std::vector<uint8_t> written = mailbox->Serialize();
    std::optional<tv::mail::MailboxFile> again = tv::mail::MailboxFile::Parse(written);
    if (!again || again->Count() != mailbox->Count() || again->Serialize() != written)
        std::abort();
    for (size_t i = 0; i < mailbox->Count(); ++i)
        if (!(again->Letter(i) == mailbox->Letter(i)))
            std::abort();
    return 0;
}
