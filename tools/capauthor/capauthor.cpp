// capauthor: builds package files (file and script items, an optional header with an icon name)
// for tests and for the item store's default scripts, and lists what a package holds.
#include "automation_date.h"

#include "byte_io.h"
#include "package.h"
#include "package_reader.h"
#include "package_writer.h"
#include "result_codes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace caparchive;

constexpr const char* kUsage = R"(Usage:
  capauthor OUTPUT [OPTION | ITEM]...   build the package file OUTPUT
  capauthor --list PACKAGE              print a package's header and items
  capauthor --help

Items, kept in the order given:
  --file NAME=PATH      a file item (kind 2) named NAME holding the bytes of PATH
  --script NAME=PATH    a script item (kind 3) named NAME holding the text in PATH
  --long N              the stored long of the item added last: its version in the
                        item store, its time (seconds since 1970) in a backup set;
                        default 0
  --attributes N        the attributes of the item added last (decimal, or hex
                        with 0x); default 0

Header (attached when any of these is given):
  --title TEXT          the package's title
  --description TEXT    the package's description
  --icon NAME           the name of the item that holds the package's icon
  --date DATE           YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS]

Package:
  --option N            the package option (1 for backup sets); default 0

Items are compressed when that makes them smaller. OUTPUT is written to a temporary
file beside it first and then put in place. Exit status 0 on success, 1 on a bad
command line, 2 when a file cannot be read or written.

Example (an item store with one event script, version 3):
  capauthor store.cap --script OnConnect=onconnect.js --long 3
)";

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "capauthor: %s\n", message.c_str());
    return status;
}

bool ParseLong(std::string_view text, long long minimum, long long maximum, long long& value) {
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(copy.c_str(), &end, 0);
    return !copy.empty() && errno == 0 && *end == '\0' && value >= minimum && value <= maximum;
}

int AddItem(Package& package, int32_t kind, std::string_view spec) {
    const size_t equals = spec.find('=');
    if (equals == std::string_view::npos || equals == 0 || equals + 1 == spec.size())
        return Fail(1, "an item is NAME=PATH: " + std::string(spec));
    PackageItem item;
    item.name = std::string(spec.substr(0, equals));
    item.kind = kind;
    const std::string path(spec.substr(equals + 1));
    if (const int result = ReadWholeFile(path, item.data); result != kSuccess)
        return Fail(2, "cannot read " + path + " (error " + std::to_string(result) + ")");
    package.items.push_back(std::move(item));
    return 0;
}

int WriteOutput(const Package& package, const std::string& output) {
    const std::string temporary = output + ".tmp";
    FileSink sink;
    int result = sink.Create(temporary);
    if (result == kSuccess)
        result = WritePackage(package, sink);
    if (const int closed = sink.Close(); result == kSuccess)
        result = closed;
    if (result != kSuccess) {
        std::filesystem::remove(temporary);
        return Fail(
            result == kErrorInvalidParameter ? 1 : 2,
            "cannot write " + output + " (error " + std::to_string(result) +
                (result == kErrorInvalidParameter ? ": names or sizes the format cannot hold)" : ")"));
    }
    std::error_code error;
    std::filesystem::rename(temporary, output, error);
    if (error) {
        std::filesystem::remove(temporary);
        return Fail(2, "cannot replace " + output + ": " + error.message());
    }
    return 0;
}

int List(const std::string& path) {
    FileSource source;
    int result = source.Open(path);
    PackageDirectory directory;
    if (result == kSuccess)
        result = ReadPackageDirectory(source, directory);
    if (result != kSuccess)
        return Fail(2, "cannot read " + path + " (error " + std::to_string(result) + ")");
    std::printf("option %d\n", directory.option);
    if (directory.header) {
        std::printf("date %s (%.6f)\n", capauthor::FormatAutomationDate(directory.header->date).c_str(),
                    directory.header->date);
        std::printf("title %s\ndescription %s\nicon %s\n", directory.header->title.c_str(),
                    directory.header->description.c_str(), directory.header->iconName.c_str());
    }
    std::printf("%zu items\n", directory.items.size());
    for (const ItemEntry& item : directory.items) {
        EntryLayout layout;
        result = ReadItemLayout(source, item, layout);
        if (result != kSuccess)
            return Fail(2, "damaged item " + item.name + " (error " + std::to_string(result) + ")");
        std::printf("%s %-8u stored %-8u %s long %d attributes 0x%X %s\n",
                    item.kind == kItemKindScript ? "script"
                    : item.kind == kItemKindFile ? "file  "
                                                 : "kind? ",
                    layout.size, item.record.storedLength, layout.compressed ? "compressed" : "plain     ",
                    item.storedLong, item.attributes, item.name.c_str());
    }
    return 0;
}

int Build(const std::vector<std::string_view>& args) {
    const std::string output(args[0]);
    Package package;
    auto header = [&package]() -> PackageHeader& {
        if (!package.header)
            package.header.emplace();
        return *package.header;
    };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string_view option = args[i];
        if (i + 1 >= args.size())
            return Fail(1, std::string(option) + " needs a value (see --help)");
        const std::string_view value = args[++i];
        long long number = 0;
        if (option == "--file" || option == "--script") {
            if (const int status =
                    AddItem(package, option == "--file" ? kItemKindFile : kItemKindScript, value))
                return status;
        } else if (option == "--long" || option == "--attributes") {
            if (package.items.empty())
                return Fail(1, std::string(option) + " applies to the item before it; there is none");
            if (option == "--long") {
                if (!ParseLong(value, INT32_MIN, INT32_MAX, number))
                    return Fail(1, "--long needs a 32-bit number: " + std::string(value));
                package.items.back().storedLong = static_cast<int32_t>(number);
            } else {
                if (!ParseLong(value, 0, UINT32_MAX, number))
                    return Fail(1, "--attributes needs a 32-bit unsigned number: " + std::string(value));
                package.items.back().attributes = static_cast<uint32_t>(number);
            }
        } else if (option == "--option") {
            if (!ParseLong(value, INT32_MIN, INT32_MAX, number))
                return Fail(1, "--option needs a 32-bit number: " + std::string(value));
            package.option = static_cast<int32_t>(number);
        } else if (option == "--title") {
            header().title = value;
        } else if (option == "--description") {
            header().description = value;
        } else if (option == "--icon") {
            header().iconName = value;
        } else if (option == "--date") {
            const std::optional<double> date = capauthor::ParseAutomationDate(value);
            if (!date)
                return Fail(1, "--date wants YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS]: " + std::string(value));
            header().date = *date;
        } else {
            return Fail(1, "unknown option " + std::string(option) + " (see --help)");
        }
    }
    return WriteOutput(package, output);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty())
        return Fail(1, "no output file (see --help)");
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args[0] == "--list") {
        if (args.size() != 2)
            return Fail(1, "--list takes one package file");
        return List(std::string(args[1]));
    }
    if (args[0].starts_with("-"))
        return Fail(1, "the first argument is the output file (see --help)");
    return Build(args);
}
