// Where the uploader puts a PC file: the device folder the user chose plus the file's own name.
#pragma once
#include <string>

namespace tv::uploader {

struct UploadDestination {
    std::string path;       // device path of the copy: "<device>\<folders>\<file name>"
    std::string deviceName; // the path's text up to its first "\"
};

// The file's own name: the text after its last "\", or else after its last "/", or the path.
std::string PcFileName(const std::string& pcPath);

// The destination of `pcPath` in the device folder `folder`. A bracketed part of the folder
// (from its last "[" to its last "]", such as the id the folder browser shows beside a device)
// is removed; the file keeps its name as it is, brackets and all.
UploadDestination BuildUploadDestination(const std::string& folder, const std::string& pcPath);

} // namespace tv::uploader
