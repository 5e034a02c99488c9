// A second process on a database, for the tests: "add" commits COUNT records one by one, each
// tagged TAG * 1000 + n in its Flags and "peer <tag> <n>" (of growing length) in its Subject;
// "edit" sets the Subject of key 1 to "edited by peer <tag>"; "rename" renames the table Mail to
// Letters. The exit code is 0 when every call succeeded, else the number of the step that failed.
#include "ComPtr.h"
#include "Handles.h"
#include "ZvDB.h"
#include <windows.h>
#include <cstdlib>
#include <string>

using tv::com::ComPtr;

namespace {

int AddRecords(IZvDBTable* table, int count, int tag) {
    for (int n = 1; n <= count; ++n) {
        ComPtr<IZvDBCursor> cursor;
        ComPtr<IZvDBRecord> record;
        const std::string subject = "peer " + std::to_string(tag * 1000 + n) + " " + std::string(n * 7, 'p');
        if (FAILED(table->OpenNullCursor(&cursor)) || FAILED(cursor->Add(&record)) ||
            FAILED(record->SetString(0, const_cast<char*>(subject.c_str()))) ||
            FAILED(record->SetDword(1, static_cast<unsigned long>(tag * 1000 + n))) ||
            FAILED(record->Commit()))
            return 10;
    }
    return 0;
}

int EditFirst(IZvDBTable* table, int tag) {
    long key = 1;
    ComPtr<IZvDBCursor> cursor;
    ComPtr<IZvDBRecord> record;
    const std::string subject = "edited by peer " + std::to_string(tag);
    if (FAILED(table->OpenKeyCursor(1, &key, &cursor)) || FAILED(cursor->EditAt(0, &record)) ||
        FAILED(record->SetString(0, const_cast<char*>(subject.c_str()))) || FAILED(record->Commit()))
        return 20;
    return 0;
}

int RenameMail(IZvDBConnection* connection, IZvDBTable* table) {
    return FAILED(connection->RenameTable(table, const_cast<char*>("Letters"))) ? 30 : 0;
}

int Run(int argc, char** argv) {
    if (argc != 5)
        return 1;
    const std::string mode = argv[1];
    const int count = std::atoi(argv[3]), tag = std::atoi(argv[4]);
    tv::com::ComApartment apartment(COINIT_APARTMENTTHREADED);
    ComPtr<IZvDBEngine> engine;
    ComPtr<IZvDBConnection> connection;
    ComPtr<IZvDBTable> table;
    if (FAILED(CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IZvDBEngine,
                                reinterpret_cast<void**>(&engine))))
        return 2;
    if (FAILED(engine->OpenConnection(argv[2], &connection)))
        return 3;
    if (FAILED(connection->GetTableByName(const_cast<char*>("Mail"), &table)))
        return 4;
    return mode == "add"      ? AddRecords(table.Get(), count, tag)
           : mode == "edit"   ? EditFirst(table.Get(), tag)
           : mode == "rename" ? RenameMail(connection.Get(), table.Get())
                              : 5;
}

} // namespace

int main(int argc, char** argv) {
    return Run(argc, argv);
}
