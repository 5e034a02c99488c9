#include "MailTable.h"
#include "ComPtr.h"
#include "ZvDB.h"

namespace tv::mail::testing {

bool ReadMailTable(const std::string& catalogPath, std::vector<MailRow>& rows) {
    rows.clear();
    com::ComPtr<IZvDBEngine> engine;
    com::ComPtr<IZvDBConnection> connection;
    com::ComPtr<IZvDBTable> table;
    com::ComPtr<IZvDBCursor> cursor;
    std::string path = catalogPath;
    HRESULT hr = CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvDBEngine),
                                  reinterpret_cast<void**>(&engine));
    if (SUCCEEDED(hr))
        hr = engine->OpenConnection(path.data(), &connection);
    if (SUCCEEDED(hr))
        hr = connection->GetTableByIdx(0, &table);
    if (SUCCEEDED(hr))
        hr = table->OpenWideCursor(&cursor);
    long count = 0;
    if (SUCCEEDED(hr))
        hr = cursor->GetRecordCount(&count);
    for (long i = 0; SUCCEEDED(hr) && i < count; ++i) {
        com::ComPtr<IZvDBRecord> record;
        hr = cursor->GetAt(i, &record);
        if (FAILED(hr))
            break;
        auto text = [&](long field) {
            std::vector<char> buffer(8192, '\0');
            record->GetString(field, static_cast<long>(buffer.size()), buffer.data());
            return std::string(buffer.data());
        };
        MailRow row;
        BYTE status = 0;
        record->GetKey(&row.key);
        record->GetByte(0, &status);
        record->GetDword(1, &row.time);
        row.status = status;
        row.messageId = text(3);
        row.from = text(4);
        row.to = text(5);
        row.subject = text(6);
        row.body = text(7);
        row.attachments = text(8);
        rows.push_back(std::move(row));
    }
    if (FAILED(hr))
        rows.clear();
    return SUCCEEDED(hr);
}

} // namespace tv::mail::testing
