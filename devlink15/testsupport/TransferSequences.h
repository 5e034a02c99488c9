// The console commands the device object sends for its transfers, as the tests read them back
// from the emulator's command log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace devlink15::test {

// A PC file imported to the device path: its listing (the overwrite question), its attributes
// cleared, the transfer, and the attribute letters it arrives with ("RH", or "" for none).
inline std::vector<std::string> FileImportCommands(const std::string& path, size_t size,
                                                   const std::string& letters) {
    const std::string quoted = "\"" + path + "\"";
    return {"ls $pipe=15 -L " + quoted,      "chmod $pipe=15 -RHs " + quoted,
            "chmod $pipe=15 + " + quoted,    "rcv $data_pipe=100 " + quoted + " " + std::to_string(size),
            "chmod $pipe=15 -RHs " + quoted, "chmod $pipe=15 +" + letters + " " + quoted};
}

// A PC folder without attributes imported to the device path: made, looked up, attributes set.
inline std::vector<std::string> FolderImportCommands(const std::string& path) {
    const std::string quoted = "\"" + path + "\"";
    return {"mkdir $pipe=15 " + quoted + " ", "ls $pipe=15 -L " + quoted, "chmod $pipe=15 -RHs " + quoted,
            "chmod $pipe=15 + " + quoted};
}

// The PC folder b (f.txt of `fSize` bytes arriving with `fLetters`, sub\g.txt of `gSize` bytes)
// imported as the device folder `path`: the folder first, then its entries in the order the PC
// lists them, then the subfolder's.
inline std::vector<std::string> TreeImportCommands(const std::string& pcFolder, const std::string& path,
                                                   size_t fSize, const std::string& fLetters, size_t gSize) {
    std::vector<std::string> commands = FolderImportCommands(path);
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((pcFolder + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return {};
    do {
        std::vector<std::string> more;
        if (std::string(found.cFileName) == "sub")
            more = FolderImportCommands(path + "/sub");
        else if (std::string(found.cFileName) == "f.txt")
            more = FileImportCommands(path + "/f.txt", fSize, fLetters);
        commands.insert(commands.end(), more.begin(), more.end());
    } while (FindNextFileA(search, &found));
    FindClose(search);
    const std::vector<std::string> g = FileImportCommands(path + "/sub/g.txt", gSize, "");
    commands.insert(commands.end(), g.begin(), g.end());
    return commands;
}

// The folder /default/docs (the folder old, the files a.txt and old/b.txt) copied into
// /default/keep: one recursive listing, the folders, then per file the listings of the size and
// of the overwrite question and one "cp".
inline std::vector<std::string> DocsCopyCommands() {
    return {
        "ls $pipe=15 -L \"/default/docs\"",
        "ls $pipe=15 -L \"/default/docs/.../*\"",
        "mkdir $pipe=15 \"/default/keep/docs\" ",
        "mkdir $pipe=15 \"/default/keep/docs/old\" ",
        "ls $pipe=15 -L \"/default/docs/a.txt\"",
        "ls $pipe=15 -L \"/default/keep/docs/a.txt\"",
        "cp $pipe=15 -v -f -p \"/default/docs/a.txt\" \"/default/keep/docs/a.txt\"",
        "ls $pipe=15 -L \"/default/docs/old/b.txt\"",
        "ls $pipe=15 -L \"/default/keep/docs/old/b.txt\"",
        "cp $pipe=15 -v -f -p \"/default/docs/old/b.txt\" \"/default/keep/docs/old/b.txt\"",
    };
}

} // namespace devlink15::test
