// Volumes of a device and the mapping between the PC-side paths (volume label, then folders
// separated by "\") and device paths ("/default/Games/x.app"). Portable code.
#pragma once

#include "Listing.h"

#include <string>
#include <string_view>
#include <vector>

namespace devlink15 {

// The extra volumes of a device: device-side names and their display labels, in the order the
// device lists them, and whether a media-player volume was seen last.
struct VolumeList {
    std::vector<std::string> names;
    std::vector<std::string> labels;
    bool mediaPlayer = false;

    void Clear() {
        names.clear();
        labels.clear();
        mediaPlayer = false;
    }
};

// Refills `volumes` from the reply of "ls $pipe=15 /*". Labels are kept distinct from each other
// and from the main volume's label (a repeated label gets " (2)", " (3)" ... appended), so that
// every label maps back to exactly one volume.
void ParseVolumeList(std::string_view reply, const ListingTexts& texts, VolumeList& volumes);

// The device volume name of a label: the main label gives "default", a listed label its
// volume's name; `mapped` tells whether either matched. Otherwise the label itself comes back.
std::string MapVolumeLabel(const std::string& label, const ListingTexts& texts, const VolumeList& volumes,
                           bool& mapped);

// Device path of a PC-side path. A path without "\" gives "/" + path (true). Otherwise
// "/" + volume + folders + "/" + leaf; false when the volume label is unknown (the path is
// built with the label as it stands).
bool MapToDevicePath(const std::string& path, const ListingTexts& texts, const VolumeList& volumes,
                     std::string& devicePath);

// Whether a path may be put between the double quotes of a console command: no double quote,
// no "$" (which would start an option) and no control character.
bool IsSafeConsolePath(std::string_view path);

// The console command as the device's command pass-through sends it: " $pipe=15" after the
// first word (a command without a blank gets one appended first).
std::string InsertReplyPipe(const std::string& command);

// Whether the reply ends with the device's status line "fail".
bool ReplyReportsFailure(std::string_view reply);

// The number after `key` (and the ":" that follows it) in a "sysinfo" reply; 0 when absent.
long SysinfoValue(std::string_view reply, std::string_view key);

// "key=value|key=value" of the non-empty lines of a "sysinfo" reply; false when none is left.
bool FormatDeviceInfo(std::string_view reply, std::string& text);

} // namespace devlink15
