// Feeds arbitrary device input through the parser in every request situation, and arbitrary
// request texts through the tagged-text parser.
#include "InputParser.h"
#include "TaggedText.h"
#include <cstddef>
#include <cstdint>

namespace {

class Sink : public zvport::InputParser::Output {
public:
    void PostMessage(zvport::DeviceMessage message) override { count += message.data.size() + 1; }
    void AppendResponse(std::string_view text) override { count += text.size(); }
    size_t count = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    zvport::RunningRequestView running{static_cast<zvport::RequestKind>(data[0] % 7),
                                       static_cast<zvport::RequestState>(data[1] % 6), data[1]};
    zvport::InputParser parser;
    Sink sink;
    std::span<const uint8_t> input(data + 2, size - 2);
    size_t half = input.size() / 2;
    parser.Parse(input.first(half), running, 0, sink);
    parser.Parse(input.subspan(half), running, data[1] * 10u, sink);

    std::string_view text(reinterpret_cast<const char*>(data), size);
    zvport::ParseTag(text);
    zvport::ParsedFields fields;
    zvport::ParseFields(text, "|str|str|\n|str|str|", fields);
    zvport::ParseFields(text, "|int|int|int|int|str|int|int|", fields);
    zvport::FieldAfter(text, "<Connect>");
    return 0;
}
