// Test-only: the rows of a device's mail table, read through the database engine.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace tv::mail::testing {

struct MailRow {
    long key = 0;
    int status = 0;
    DWORD time = 0;
    std::string messageId, from, to, subject, body, attachments;
};

// The rows of the first table of the catalog `catalogPath` in cursor order; false (and no rows)
// when it cannot be read.
bool ReadMailTable(const std::string& catalogPath, std::vector<MailRow>& rows);

} // namespace tv::mail::testing
