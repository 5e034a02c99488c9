// Field texts of the 1.5 device's mail table: the attachment descriptor, the sender's address,
// and the table file named by the database catalog.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tv::mail {

// The folder on the device where received attachments are kept.
inline constexpr char kAttachmentFolder[] = "/default/System/EMAIL/";

struct AttachmentEntry {
    std::string name;       // the attachment's own name
    std::string devicePath; // "/default/System/EMAIL/<stored name>"
};

// The entries of a descriptor ("name>path" joined by "|"); empty pieces are skipped.
std::vector<AttachmentEntry> ParseAttachmentDescriptor(std::string_view descriptor);
// Appends an entry for a stored file, preceded by "|" unless the descriptor is empty or ends in one.
void AppendAttachmentEntry(std::string& descriptor, std::string_view name, std::string_view storedName);

// The stored-file names of received attachments: "%08d.att" of a drawn number, drawn again while
// the name is in use on the device (compared without case), a bounded number of times.
class AttachmentNames {
  public:
    // Far more draws than a device with room for its letters ever needs.
    static constexpr int kDraws = 1000;

    void Use(std::string_view name);
    // A name not in use, which is then in use; none when every draw gave a name in use.
    std::optional<std::string> Draw(const std::function<int()>& random);

  private:
    std::set<std::string> used_; // upper case
};

// The text between "<" and ">" when the address holds "<" before ">"; the address otherwise.
std::string AngleAddress(const std::string& address);

// The last element of a path ("\" or "/" separated).
std::string LastPathElement(std::string_view path);

// The file name of the first table of a catalog ("%02X%02X%02X%02X.t" of the four bytes at offset
// 36); nothing when the catalog is not "ZvDB" version 1 with at least one table.
std::optional<std::string> FirstTableFileName(std::span<const uint8_t> catalog);

} // namespace tv::mail
