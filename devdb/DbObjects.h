// The COM wrappers of ZvDB.dll: each holds one engine object and offers it through a custom face
// and a dispatch twin. A wrapper whose engine object is gone answers E_FAIL.
#pragma once
#include "Connection.h"
#include "Record.h"
#include "ZvDB.h"
#include <memory>

namespace tv::devdb::com {

// The engine of the process (made when the DLL is loaded); null when it could not be made.
Engine* ProcessEngine();

HRESULT NewConnectionObject(std::shared_ptr<Connection> connection, REFIID riid, void** ppv);
HRESULT NewTableObject(std::shared_ptr<Connection> connection, std::shared_ptr<Table> table, REFIID riid,
                       void** ppv);
HRESULT NewCursorObject(std::shared_ptr<Cursor> cursor, REFIID riid, void** ppv);
HRESULT NewRecordObject(std::shared_ptr<Record> record, REFIID riid, void** ppv);
HRESULT NewFormatObject(std::shared_ptr<Connection> connection, RecordFormat format, REFIID riid, void** ppv);

// The engine objects behind wrappers of this DLL handed back by a caller (null for anything else).
std::shared_ptr<Connection> ConnectionOf(IUnknown* object);
std::shared_ptr<Table> TableOf(IUnknown* object);
std::shared_ptr<Cursor> CursorOf(IUnknown* object);
std::shared_ptr<Record> RecordOf(IUnknown* object);
// The format held by a format wrapper (null when it is not one, or was released).
const RecordFormat* FormatOf(IUnknown* object);
// Lets go of a format wrapper's format; false when it is not one or was released already.
bool ReleaseFormatOf(IUnknown* object);

} // namespace tv::devdb::com
