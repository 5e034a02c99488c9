// Names that come from a device (a listing, a backup set, a package) become file names on the
// PC. Such a name must stay a plain file name: it must not leave the folder it is written under,
// name a stream, or open a device such as a serial port. Every place that turns a device name
// into a PC path applies this one rule.
#pragma once
#include <string_view>

namespace tv::portable {

enum class PcNameProblem {
    kNone,
    kEmpty,                // an empty name or component
    kDotComponent,         // "." or ".."
    kBadCharacter,         // a control character or one of \ / : * ? " < > |
    kTrailingDotOrSpace,   // the PC would store it under another name
    kReservedDeviceName,   // CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without extension
};

// True for the names Windows maps to devices in every folder: CON, PRN, AUX, NUL, COM1-COM9 and
// LPT1-LPT9 in any case, alone or followed by an extension ("com1.txt"), also with spaces
// before the extension ("nul .txt").
bool IsReservedDeviceName(std::string_view component);
bool IsReservedDeviceName(std::wstring_view component);

// The problem of one path component (no separators allowed in it).
PcNameProblem CheckPcComponent(std::string_view component);
PcNameProblem CheckPcComponent(std::wstring_view component);

// The first problem of a relative path whose components are split at '\' (a leading or
// doubled '\' gives an empty component, so absolute paths are refused).
PcNameProblem CheckPcRelativePath(std::string_view path);
PcNameProblem CheckPcRelativePath(std::wstring_view path);

inline bool IsPcSafeComponent(std::string_view c) { return CheckPcComponent(c) == PcNameProblem::kNone; }
inline bool IsPcSafeComponent(std::wstring_view c) { return CheckPcComponent(c) == PcNameProblem::kNone; }
inline bool IsPcSafeRelativePath(std::string_view p) { return CheckPcRelativePath(p) == PcNameProblem::kNone; }
inline bool IsPcSafeRelativePath(std::wstring_view p) { return CheckPcRelativePath(p) == PcNameProblem::kNone; }

} // namespace tv::portable
