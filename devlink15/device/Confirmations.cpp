// Overwrite and read-only confirmations of the device object. The answers given "for all items"
// are kept in the device object until the hub resets it for the next operation.
#include "Confirmations.h"

#include "LangIds.h"
#include "TransferSupport.h"
#include "ZvDevice15.h"

#include <cstdio>

namespace devlink15 {

namespace {

SYSTEMTIME AsCalendarTime(long low, long high) {
    FILETIME fileTime{static_cast<DWORD>(low), static_cast<DWORD>(high)};
    SYSTEMTIME time{};
    FileTimeToSystemTime(&fileTime, &time);
    return time;
}

// Asks about one existing item, or answers from an earlier "for all" choice. 1 replace, 0 keep.
HRESULT AskOverwrite(ZvDevice15& device, const ListingEntry& existing, const std::string& details,
                     const std::string& dest) {
    return tv::AskOverwrite(device.Answers(), (existing.attr & kAttrSystem) != 0,
                            ConfirmQuestion{details, dest, device.ItemCount()});
}

} // namespace

HRESULT ZvDevice15::ConfirmOverwrite(const std::string& dest, const std::string& source) {
    ListingEntry existing;
    if (StatItem(dest, &existing) != S_OK || enableUI_ != 1)
        return 1;
    tv::com::UniqueFileHandle file(
        CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return E_FAIL;
    const DWORD size = GetFileSize(file.Get(), nullptr);
    FILETIME written{};
    SYSTEMTIME writtenLocal{};
    if (!GetFileTime(file.Get(), nullptr, nullptr, &written) ||
        !FileTimeToLocalSystemTime(written, writtenLocal))
        return E_FAIL;
    file.Reset();
    const std::string details =
        tv::OverwriteDetails(dest, static_cast<DWORD>(existing.size),
                         AsCalendarTime(existing.timeLow, existing.timeHigh), source, size, writtenLocal);
    return AskOverwrite(*this, existing, details, dest);
}

HRESULT ZvDevice15::ConfirmOverwriteOnDevice(const std::string& dest, const std::string& source) {
    ListingEntry existing;
    if (StatItem(dest, &existing) != S_OK || enableUI_ != 1)
        return 1;
    ListingEntry replacing;
    if (source.empty() || StatItem(source.substr(1), &replacing) != S_OK)
        return E_FAIL;
    const std::string details = tv::OverwriteDetails(
        dest, static_cast<DWORD>(existing.size), AsCalendarTime(existing.timeLow, existing.timeHigh), source,
        static_cast<DWORD>(replacing.size), AsCalendarTime(replacing.timeLow, replacing.timeHigh));
    return AskOverwrite(*this, existing, details, dest);
}

bool ZvDevice15::ConfirmDeleteReadOnly(ListingEntry entry) {
    const auto clearAndGo = [&] {
        ApplyItemAttributes(entry.path, 0);
        return true;
    };
    if (enableUI_ != 1 || !(entry.attr & kAttrReadOnly))
        return clearAndGo();
    if (answers_.deleteAllReadOnly)
        return clearAndGo();
    if (answers_.keepAllReadOnly)
        return false;
    const ConfirmAnswer answer =
        ReadOnlyDeleteDlg().Show({{}, transfer::AfterLast(entry.path, '/'), itemCount_});
    if (answer.forAll)
        (answer.result == 0 ? answers_.deleteAllReadOnly : answers_.keepAllReadOnly) = true;
    if (answer.result == 1)
        return false;
    return clearAndGo();
}

bool ZvDevice15::ConfirmRenameReadOnly(ListingEntry entry) {
    if (enableUI_ != 1 || !(entry.attr & kAttrReadOnly))
        return true;
    const std::string text =
        transfer::Text(IDS_CONFIRM_RENAME_READ_ONLY, transfer::AfterLast(entry.path, '/'));
    const std::string caption = LangString(IDS_CONFIRM_RENAME_READ_ONLY_CAPTION);
    return MessageBoxA(GetDesktopWindow(), text.c_str(), caption.c_str(),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDNO;
}

} // namespace devlink15
