// The codecs of the 1.0 mailbox: device numbers (the packed form of a device address), the
// address kinds a record stores, and the message ids made for letters that have none.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tv::mail {

// The kind byte a record stores before an address.
enum class AddressKind : uint8_t { None = 0, Device = 1, Internet = 2, Icq = 4 };

// The device number of a device address ("@" or the byte 0x85, then seven characters): 0 when
// the address is not a valid one.
uint32_t DeviceNumberFromAddress(std::string_view address);

// The owner number of a device user id (seven characters, with or without a leading "@"), as
// the mailbox header holds it; the seventh character may also be "C" or "D" (the upper half of
// the numbers). 0 when the id is not valid.
uint32_t OwnerNumberFromUserId(std::string_view userId);

// One Internet mail address: word characters, "." and one "@" each after a word character,
// ending with a word character.
bool IsInternetAddress(std::string_view address);

// What a record would store `address` as: a device address (exactly "@" or 0x85 and seven
// characters), one or more Internet addresses separated by ";", "ICQ" (any case) and decimal
// digits, or None.
AddressKind ClassifyAddress(std::string_view address);

// A message id from a time (seconds since 1970) and an owner number: each written six bits per
// character, least significant first, joined by ",".
std::string MakeMessageId(uint64_t seconds, uint32_t owner);
// Whether `id` has the form MakeMessageId gives for `owner` (some time, then that owner).
bool IsMadeMessageId(std::string_view id, uint32_t owner);

} // namespace tv::mail
