// The property sheet of several items of one device folder: one page with the folder, the
// kind of the items, their common icon and the totals the hub counts.
#pragma once
#include "ComObject.h"
#include "ZelvanMgr.h"
#include <windows.h>
#include <string>
#include <vector>

namespace tv::shellns {

// Starts the sheet on a thread of its own; the caller does not wait.
void ShowMultiProperties(const std::string& folderPath, const std::vector<std::string>& names);

// The sheet's caption: the names joined by "," shortened to 20 characters, then " Properties".
std::string MultiPropertiesCaption(const std::vector<std::string>& names);

// The size text of the page: "%u bytes" below 1024, else the short form with the exact count.
std::string SizeText(unsigned long long size);

// Runs the sheet on the calling thread until it closes (what the sheet's thread does).
INT_PTR RunMultiPropertiesSheet(const std::string& folderPath, const std::vector<std::string>& names);

} // namespace tv::shellns
