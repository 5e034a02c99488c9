#include "UpdateRules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace zvupdate {
namespace {

std::string TwoDigits(uint64_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02u", static_cast<unsigned>(value % 100));
    return text;
}

const DeviceFile* FirstDeviceFileNamed(const std::vector<DeviceFile>& devices, const std::string& name) {
    for (const DeviceFile& device : devices)
        if (device.name == name)
            return &device;
    return nullptr;
}

} // namespace

std::string FormatSize(uint64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    uint64_t quotient = bytes;
    uint64_t remainder = 0;
    size_t unit = 0; // index + 1 into kUnits once divided
    do {
        remainder = quotient % 1024;
        quotient /= 1024;
        ++unit;
    } while (quotient / 1024 > 0 && unit < 4);

    std::string number;
    const char* unitText = kUnits[unit - 1];
    if (quotient < 10) {
        number = std::to_string(quotient) + "," + TwoDigits(remainder * 100 / 1024);
    } else if (quotient < 100) {
        number = std::to_string(quotient) + "," + std::to_string(remainder * 10 / 1024);
    } else if (quotient < 1000 || unit == 4) {
        number = std::to_string(quotient);
    } else {
        number = "0," + TwoDigits(quotient * 100 / 1024);
        unitText = kUnits[unit];
    }
    return number + " " + unitText;
}

int32_t ClampToLong(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

uint32_t TransferRateKBps(uint64_t length, uint64_t milliseconds) {
    if (milliseconds == 0)
        return 0;
    // length < 2^32 here in practice; the product stays in 64 bits for any length below 2^54.
    const uint64_t rate = (length * 1000 / milliseconds) >> 10;
    return static_cast<uint32_t>(std::min<uint64_t>(rate, std::numeric_limits<uint32_t>::max()));
}

int BarPercent(int64_t position, int64_t range) {
    if (range <= 0)
        return 0;
    const int64_t clipped = std::clamp<int64_t>(position, 0, range);
    return static_cast<int>(clipped * 100 / range);
}

bool IsPackageFile(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".cap";
}

SpaceFigures ComputeSpace(FilePage page, const std::vector<UpdateFile>& updates, const std::vector<DeviceFile>& devices,
                          bool formatFlash, int64_t freeSpace, int64_t totalSpace) {
    SpaceFigures figures;
    figures.available = formatFlash ? totalSpace : freeSpace;
    int64_t required = 0;
    for (const UpdateFile& file : updates) {
        if (!file.selected)
            continue;
        required += file.length;
        if (formatFlash || (page == FilePage::Advanced && IsPackageFile(file.name)))
            continue;
        if (const DeviceFile* replaced = FirstDeviceFileNamed(devices, file.name))
            required -= replaced->length;
    }
    figures.required = std::max<int64_t>(required, 0);
    return figures;
}

void CommitFileSelection(FilePage page, bool formatFlash, std::vector<UpdateFile>& updates,
                         std::vector<DeviceFile>& devices) {
    std::erase_if(updates, [](const UpdateFile& file) { return !file.selected; });
    // A device file stays when the script flagged it or a kept update file replaces it. The
    // script's flag is left as it is, so that a later commit weighs the match afresh.
    std::erase_if(devices, [&](const DeviceFile& device) {
        if (device.flag)
            return false;
        for (const UpdateFile& file : updates) {
            if (file.name != device.name)
                continue;
            if (page == FilePage::Advanced && (formatFlash || IsPackageFile(file.name)))
                continue;
            return false;
        }
        return true;
    });
}

void FileSortOrder::Click(int column) {
    const bool name = column == 0;
    if (name == byName_) {
        if (byName_)
            nameAscending_ = !nameAscending_;
        else
            lengthAscending_ = !lengthAscending_;
    } else {
        byName_ = name;
    }
}

bool FileSortOrder::Before(const UpdateFile& a, const UpdateFile& b) const {
    if (byName_)
        return nameAscending_ ? a.appName < b.appName : b.appName < a.appName;
    return lengthAscending_ ? a.length < b.length : b.length < a.length;
}

void FileSortOrder::Sort(std::vector<size_t>& rows, const std::vector<UpdateFile>& files) const {
    std::stable_sort(rows.begin(), rows.end(), [&](size_t a, size_t b) { return Before(files[a], files[b]); });
}

std::string ShortenProgressText(const std::string& text, const std::function<bool(const std::string&)>& fits) {
    const size_t lastBackslash = text.rfind('\\');
    if (lastBackslash == std::string::npos || fits(text))
        return text;
    const size_t colon = text.find(':');
    const size_t start = colon == std::string::npos || colon > lastBackslash ? 0 : colon + 1;
    if (start >= lastBackslash)
        return text; // nothing between the colon and the last backslash to replace
    const std::string head = text.substr(0, start);
    const std::string tail = text.substr(lastBackslash);
    // One more character of the part between the colon and the last backslash goes per step;
    // when none is left the shortest form is the answer, fitting or not.
    const size_t replaceable = lastBackslash - start;
    std::string candidate;
    for (size_t removed = 1; removed <= replaceable; ++removed) {
        candidate = head + "..." + text.substr(start + removed, replaceable - removed) + tail;
        if (fits(candidate))
            break;
    }
    return candidate;
}

unsigned AutoProgressInterval(int64_t totalMs, int64_t count) {
    if (count <= 0)
        return 0;
    const int64_t interval = std::max<int64_t>(totalMs, 0) / count;
    return static_cast<unsigned>(std::clamp<int64_t>(interval, 1, std::numeric_limits<uint32_t>::max()));
}

} // namespace zvupdate
