// Test-only: the MIME builder and parser from the command line, so that a Python script can
// check them against Python's email package.
//   mime_tool build <from> <to> <subject> <text file> [attachment files...]   letter to stdout
//   mime_tool parse <letter file> <output folder>
//     writes headers.txt (one "name: value" line per field), text.txt and one file per
//     attachment named "<index>-<name>" (decoded as the store would store it)
#include "MimeBody.h"
#include "MimeHeaders.h"
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

int Build(int argc, char** argv) {
    tv::mail::ZvMimeBody body;
    body.AddPlainText(ReadFile(argv[5]));
    for (int i = 6; i < argc; ++i) {
        if (!body.AttachFile(argv[i])) {
            std::cerr << "cannot read " << argv[i] << "\n";
            return 1;
        }
    }
    std::cout << "From: " << argv[2] << "\r\nTo: " << argv[3] << "\r\nSubject: " << argv[4] << "\r\n";
    std::string text = body.MultipartText();
    if (body.Attachments().empty())
        std::cout << "\r\n";
    std::cout << text;
    return 0;
}

int Parse(char** argv) {
    std::string folder = argv[3];
    tv::mail::MailHeaders headers = tv::mail::ReadMailHeaders(ReadFile(argv[2]));
    std::ofstream(folder + "/headers.txt", std::ios::binary)
        << "subject: " << headers.subject << "\nfrom: " << headers.from << "\nto: " << headers.to
        << "\ndate: " << headers.date << "\nmessage-id: " << headers.messageId << "\nmime: " << headers.mime << "\n";
    tv::mail::ZvMimeBody body;
    if (headers.mime)
        body.Parse(headers.body);
    std::ofstream(folder + "/text.txt", std::ios::binary) << (headers.mime ? body.PlainText() : headers.body);
    for (size_t i = 0; i < body.Attachments().size(); ++i) {
        std::string path = folder + "/" + std::to_string(i) + "-" + body.Attachments()[i].name;
        if (!body.StoreAttachment(i, path))
            std::cerr << "attachment " << i << " not stored\n";
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "build" && argc >= 6)
        return Build(argc, argv);
    if (command == "parse" && argc == 4)
        return Parse(argv);
    std::cerr << "usage: mime_tool build <from> <to> <subject> <text file> [files...] | parse <letter> <folder>\n";
    return 2;
}
