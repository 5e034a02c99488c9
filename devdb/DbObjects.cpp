#include "DbObjects.h"
#include "AnsiText.h"
#include "DevDbIds.h"
#include "DllModule.h"
#include "ErrorInfo.h"
#include "HResult.h"
#include <algorithm>
#include <climits>
#include <cstring>

using tv::com::AnsiToBstr;
using tv::com::ComPtr;
using tv::com::CreateComObject;
using tv::com::ToAnsi;

namespace tv::devdb::com {

// Answered only by the wrappers of this DLL, in process: the engine object behind a wrapper.
class IDbWrapped : public IUnknown {
  public:
    virtual std::shared_ptr<Connection> WrappedConnection() { return nullptr; }
    virtual std::shared_ptr<Table> WrappedTable() { return nullptr; }
    virtual std::shared_ptr<Cursor> WrappedCursor() { return nullptr; }
    virtual std::shared_ptr<Record> WrappedRecord() { return nullptr; }
    virtual const RecordFormat* WrappedFormat() { return nullptr; }
    virtual bool ReleaseWrappedFormat() { return false; }
};

} // namespace tv::devdb::com

__CRT_UUID_DECL(tv::devdb::com::IDbWrapped, 0x9D3F51A2, 0x6C0B, 0x4E8A, 0xB7, 0xD4, 0x2F, 0x61, 0xC8, 0xA0,
                0xE3, 0x5B)

namespace tv::devdb::com {

namespace {

UINT FailureText(HRESULT hr) {
    switch (hr) {
    case E_POINTER:
        return IDS_ZVDB_NULL_POINTER;
    case E_OUTOFMEMORY:
        return IDS_ZVDB_NO_MEMORY;
    case E_NOTIMPL:
        return IDS_ZVDB_NOT_OFFERED;
    default:
        return IDS_ZVDB_FAILED;
    }
}

ComPtr<IDbWrapped> Wrapped(IUnknown* object) {
    ComPtr<IDbWrapped> wrapped;
    if (object)
        object->QueryInterface(__uuidof(IDbWrapped), reinterpret_cast<void**>(&wrapped));
    return wrapped;
}

std::string Text(LPSTR text) {
    return text ? std::string(text) : std::string();
}

// Copies a text with its zero byte into a caller's buffer of nMaxLen bytes.
HRESULT CopyOut(const std::string& text, long nMaxLen, char* buffer) {
    if (!buffer || nMaxLen <= 0 || static_cast<unsigned long>(nMaxLen) <= text.size())
        return E_FAIL;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return S_OK;
}

HRESULT Check(bool ok) {
    return ok ? S_OK : E_FAIL;
}

template <class T> HRESULT Unknown(HRESULT (*make)(T, REFIID, void**), T object, IUnknown** out) {
    return make(std::move(object), IID_IUnknown, reinterpret_cast<void**>(out));
}

// ---------------------------------------------------------------------------------------------
class RecordFormatObject : public tv::com::ComObject<RecordFormatObject, IZvDBRecordFormat, IDbWrapped> {
  public:
    RecordFormatObject(std::shared_ptr<Connection> connection, RecordFormat format)
        : connection_(std::move(connection)), format_(std::move(format)) {}

    const RecordFormat* WrappedFormat() override { return released_ ? nullptr : &format_; }
    bool ReleaseWrappedFormat() override { return !std::exchange(released_, true); }

    STDMETHODIMP GetFieldCount(long* count) override {
        return Run([&]() -> HRESULT {
            if (!count)
                return E_POINTER;
            *count = 0;
            if (released_)
                return E_FAIL;
            *count = static_cast<long>(format_.FieldCount());
            return S_OK;
        });
    }
    STDMETHODIMP GetFieldName(long i, long nMaxLen, char* name) override {
        return Run([&]() -> HRESULT {
            if (!name)
                return E_POINTER;
            const Field* field = released_ || i < 0 ? nullptr : format_.FieldAt(static_cast<size_t>(i));
            return field ? CopyOut(field->name, nMaxLen, name) : E_FAIL;
        });
    }
    STDMETHODIMP GetFieldType(long i, long* type) override {
        return Run([&]() -> HRESULT {
            if (!type)
                return E_POINTER;
            *type = 0;
            const Field* field = released_ || i < 0 ? nullptr : format_.FieldAt(static_cast<size_t>(i));
            if (!field)
                return E_FAIL;
            *type = field->Type();
            return S_OK;
        });
    }
    STDMETHODIMP FindField(LPSTR name, long* index) override {
        return Run([&]() -> HRESULT {
            if (!name || !index)
                return E_POINTER;
            *index = -1;
            if (released_)
                return E_FAIL;
            *index = format_.Find(name);
            return S_OK;
        });
    }
    STDMETHODIMP AddField(LPSTR name, long type, long size) override {
        return Run([&]() -> HRESULT {
            return Check(!released_ &&
                         format_.AddField(Text(name), static_cast<int>(type), static_cast<int>(size)));
        });
    }
    STDMETHODIMP RemoveFieldByName(LPSTR name) override {
        return Run([&]() -> HRESULT {
            const int index = released_ ? -1 : format_.Find(Text(name));
            return Check(index >= 0 && format_.RemoveField(static_cast<size_t>(index)));
        });
    }
    STDMETHODIMP RemoveFieldByIdx(long index) override {
        return Run([&]() -> HRESULT {
            return Check(!released_ && index >= 0 && format_.RemoveField(static_cast<size_t>(index)));
        });
    }
    STDMETHODIMP Clone(IZvDBRecordFormat** copy) override {
        return Run([&]() -> HRESULT {
            if (!copy)
                return E_POINTER;
            *copy = nullptr;
            if (released_)
                return E_FAIL;
            return NewFormatObject(connection_, format_, IID_IZvDBRecordFormat,
                                   reinterpret_cast<void**>(copy));
        });
    }

  private:
    // Not an automation object, but no exception leaves it either.
    template <class Body> HRESULT Run(Body&& body) noexcept {
        return RunMethod(CLSID_ZvDBRecordFormat, IID_IZvDBRecordFormat, body);
    }

    std::shared_ptr<Connection> connection_;
    RecordFormat format_;
    bool released_ = false;
};

// ---------------------------------------------------------------------------------------------
class RecordObject
    : public AutomationObject<RecordObject, &CLSID_ZvDBRecord, IZvDBRecord, IZvDBRecordDisp2, IDbWrapped> {
  public:
    explicit RecordObject(std::shared_ptr<Record> record) : record_(std::move(record)) {}
    ~RecordObject() override {
        if (!record_->Released())
            record_->Release();
    }

    void* QueryOtherInterface(REFIID riid) {
        if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IZvDBRecordDisp))
            return static_cast<IZvDBRecordDisp2*>(this);
        return nullptr;
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID_IZvDBRecordDisp) ? S_OK
                                                     : AutomationObject::InterfaceSupportsErrorInfo(riid);
    }
    std::shared_ptr<Record> WrappedRecord() override { return Live(); }

    STDMETHODIMP GetKey(long* key) override {
        return Run([&]() -> HRESULT {
            if (!key)
                return E_POINTER;
            *key = 0;
            auto record = Live();
            if (!record)
                return E_FAIL;
            *key = static_cast<long>(record->Key());
            return S_OK;
        });
    }
    // Typed getters: S_OK with the value, 0 for a field of another kind or an invalid index.
    template <class T> HRESULT GetNumber(long index, int type, T* value) {
        if (!value)
            return E_POINTER;
        *value = 0;
        auto record = Live();
        if (!record)
            return E_FAIL;
        uint32_t number = 0;
        if (index >= 0)
            record->GetNumber(static_cast<size_t>(index), type, number);
        *value = static_cast<T>(number);
        return S_OK;
    }
    HRESULT SetNumber(long index, int type, uint32_t value) {
        auto record = Live();
        return Check(record && index >= 0 && record->SetNumber(static_cast<size_t>(index), type, value));
    }
    STDMETHODIMP GetBool(long i, unsigned char* v) override {
        return Run([&]() -> HRESULT { return GetNumber(i, kTypeBool, v); });
    }
    STDMETHODIMP SetBool(long i, unsigned char v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeBool, v); });
    }
    STDMETHODIMP GetByte(long i, unsigned char* v) override {
        return Run([&]() -> HRESULT { return GetNumber(i, kTypeByte, v); });
    }
    STDMETHODIMP SetByte(long i, unsigned char v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeByte, v); });
    }
    STDMETHODIMP GetWord(long i, unsigned short* v) override {
        return Run([&]() -> HRESULT { return GetNumber(i, kTypeWord, v); });
    }
    STDMETHODIMP SetWord(long i, unsigned short v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeWord, v); });
    }
    STDMETHODIMP GetDword(long i, unsigned long* v) override {
        return Run([&]() -> HRESULT { return GetNumber(i, kTypeDword, v); });
    }
    STDMETHODIMP SetDword(long i, unsigned long v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeDword, v); });
    }
    STDMETHODIMP GetRef(long i, unsigned long* v) override {
        return Run([&]() -> HRESULT { return GetNumber(i, kTypeReference, v); });
    }
    STDMETHODIMP SetRef(long i, unsigned long v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeReference, v); });
    }
    STDMETHODIMP GetBool(long i, VARIANT_BOOL* v) override {
        return Run([&]() -> HRESULT {
            unsigned char value = 0;
            if (!v)
                return E_POINTER;
            HRESULT hr = GetNumber(i, kTypeBool, &value);
            *v = value ? VARIANT_TRUE : VARIANT_FALSE;
            return hr;
        });
    }
    STDMETHODIMP SetBool(long i, VARIANT_BOOL v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeBool, v ? 1 : 0); });
    }
    STDMETHODIMP GetWord(long i, long* v) override {
        return Run([&]() -> HRESULT { return GetNumber(i, kTypeWord, v); });
    }
    STDMETHODIMP SetWord(long i, long v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeWord, static_cast<uint32_t>(v)); });
    }
    STDMETHODIMP GetDword(long i, long* v) override {
        return Run([&]() -> HRESULT { return GetNumber(i, kTypeDword, v); });
    }
    STDMETHODIMP SetDword(long i, long v) override {
        return Run([&]() -> HRESULT { return SetNumber(i, kTypeDword, static_cast<uint32_t>(v)); });
    }

    STDMETHODIMP GetString(long index, long nMaxLen, char* buffer) override {
        return Run([&]() -> HRESULT {
            auto record = Live();
            if (!record || !buffer)
                return E_FAIL;
            std::string text;
            if (index >= 0)
                record->GetText(static_cast<size_t>(index), text);
            return CopyOut(text, nMaxLen, buffer);
        });
    }
    STDMETHODIMP GetString(long index, BSTR* value) override {
        return Run([&]() -> HRESULT {
            if (!value)
                return E_POINTER;
            *value = nullptr;
            auto record = Live();
            if (!record)
                return E_FAIL;
            std::string text;
            if (index >= 0)
                record->GetText(static_cast<size_t>(index), text);
            return AnsiToBstr(text, value);
        });
    }
    STDMETHODIMP SetString(long index, LPSTR value) override {
        return Run([&]() -> HRESULT {
            auto record = Live();
            return Check(record && index >= 0 && record->SetText(static_cast<size_t>(index), Text(value)));
        });
    }
    STDMETHODIMP SetString(long index, BSTR value) override {
        return Run([&]() -> HRESULT {
            auto record = Live();
            return Check(record && index >= 0 && record->SetText(static_cast<size_t>(index), ToAnsi(value)));
        });
    }
    STDMETHODIMP GetSize(long index, long* size) override {
        return Run([&]() -> HRESULT {
            if (!size)
                return E_POINTER;
            *size = 0;
            auto record = Live();
            if (!record)
                return E_FAIL;
            if (index >= 0)
                *size = static_cast<long>(record->FieldSize(static_cast<size_t>(index)));
            return S_OK;
        });
    }
    STDMETHODIMP Commit() override {
        return Run([&]() -> HRESULT {
            auto record = Live();
            return Check(record && record->Commit());
        });
    }
    STDMETHODIMP Destroy() override {
        return Run([&]() -> HRESULT { return Check(record_->Release()); });
    }

  private:
    std::shared_ptr<Record> Live() { return record_->Released() ? nullptr : record_; }

    std::shared_ptr<Record> record_;
};

// ---------------------------------------------------------------------------------------------
class CursorObject
    : public AutomationObject<CursorObject, &CLSID_ZvDBCursor, IZvDBCursor, IZvDBCursorDisp, IDbWrapped> {
  public:
    explicit CursorObject(std::shared_ptr<Cursor> cursor) : cursor_(std::move(cursor)) {}
    ~CursorObject() override { cursor_->CloseWhenIdle(); }

    std::shared_ptr<Cursor> WrappedCursor() override { return Live(); }

    STDMETHODIMP GetRecordCount(long* count) override {
        return Run([&]() -> HRESULT {
            if (!count)
                return E_POINTER;
            *count = 0;
            auto cursor = Live();
            if (!cursor)
                return E_FAIL;
            *count = static_cast<long>(cursor->RowCount());
            return S_OK;
        });
    }
    HRESULT OpenRecord(long index, bool edit, REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto cursor = Live();
        if (!cursor || index < 0)
            return E_FAIL;
        auto record =
            edit ? cursor->EditAt(static_cast<size_t>(index)) : cursor->GetAt(static_cast<size_t>(index));
        return record ? NewRecordObject(std::move(record), riid, out) : E_FAIL;
    }
    STDMETHODIMP GetAt(long i, IZvDBRecord** r) override {
        return Run([&]() -> HRESULT { return OpenRecord(i, false, IID_IZvDBRecord, (void**)r); });
    }
    STDMETHODIMP EditAt(long i, IZvDBRecord** r) override {
        return Run([&]() -> HRESULT { return OpenRecord(i, true, IID_IZvDBRecord, (void**)r); });
    }
    STDMETHODIMP GetAt(long i, IUnknown** r) override {
        return Run([&]() -> HRESULT { return OpenRecord(i, false, IID_IUnknown, (void**)r); });
    }
    STDMETHODIMP EditAt(long i, IUnknown** r) override {
        return Run([&]() -> HRESULT { return OpenRecord(i, true, IID_IUnknown, (void**)r); });
    }
    HRESULT AddRecord(REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto cursor = Live();
        auto record = cursor ? cursor->Add() : nullptr;
        return record ? NewRecordObject(std::move(record), riid, out) : E_FAIL;
    }
    STDMETHODIMP Add(IZvDBRecord** r) override {
        return Run([&]() -> HRESULT { return AddRecord(IID_IZvDBRecord, (void**)r); });
    }
    STDMETHODIMP Add(IUnknown** r) override {
        return Run([&]() -> HRESULT { return AddRecord(IID_IUnknown, (void**)r); });
    }
    STDMETHODIMP RemoveAt(long index) override {
        return Run([&]() -> HRESULT {
            auto cursor = Live();
            return Check(cursor && index >= 0 && cursor->RemoveAt(static_cast<size_t>(index)));
        });
    }
    STDMETHODIMP GetIndexByKey(long key, long* index) override {
        return Run([&]() -> HRESULT {
            if (!index)
                return E_POINTER;
            *index = -1;
            auto cursor = Live();
            if (!cursor)
                return E_FAIL;
            *index = cursor->IndexOfKey(static_cast<uint32_t>(key));
            return S_OK;
        });
    }
    HRESULT Format(REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto cursor = Live();
        return cursor ? NewFormatObject(nullptr, cursor->Format(), riid, out) : E_FAIL;
    }
    STDMETHODIMP GetFormat(IZvDBRecordFormat** f) override {
        return Run([&]() -> HRESULT { return Format(IID_IZvDBRecordFormat, (void**)f); });
    }
    STDMETHODIMP GetFormat(IUnknown** f) override {
        return Run([&]() -> HRESULT { return Format(IID_IZvDBRecordFormat, (void**)f); });
    }
    STDMETHODIMP ReleaseRecord(IUnknown* record) override {
        return Run([&]() -> HRESULT {
            auto held = RecordOf(record);
            return Check(held && Live() && held->Release());
        });
    }

  private:
    std::shared_ptr<Cursor> Live() { return cursor_->Closed() ? nullptr : cursor_; }

    std::shared_ptr<Cursor> cursor_;
};

// Keys of a key cursor from the custom face; more than a cursor takes are refused before they are
// copied.
bool KeysFrom(long count, const long* keys, std::vector<uint32_t>& out) {
    if (count < 0 || static_cast<unsigned long>(count) > kMaxCursorKeys || (count > 0 && !keys))
        return false;
    out.assign(keys, keys + count);
    return true;
}

// Opens a condition cursor asking a caller's IZvDBCondition; only S_OK counts as true.
std::shared_ptr<Cursor> OpenConditionCursor(Connection& connection, const std::shared_ptr<Table>& table,
                                            IZvDBCondition* condition) {
    if (!condition)
        return nullptr;
    return connection.OpenConditionCursor(table, [&](const std::shared_ptr<Record>& record) {
        ComPtr<IZvDBRecord> face;
        if (FAILED(NewRecordObject(record, IID_IZvDBRecord, reinterpret_cast<void**>(&face))))
            return false;
        return condition->IsTrue(face.Get()) == S_OK;
    });
}

HRESULT HandOutCursor(std::shared_ptr<Cursor> cursor, REFIID riid, void** out) {
    return cursor ? NewCursorObject(std::move(cursor), riid, out) : E_FAIL;
}

// ---------------------------------------------------------------------------------------------
class TableObject
    : public AutomationObject<TableObject, &CLSID_ZvDBTable, IZvDBTable, IZvDBTableDisp, IDbWrapped> {
  public:
    TableObject(std::shared_ptr<Connection> connection, std::shared_ptr<Table> table)
        : connection_(std::move(connection)), table_(table) {}

    std::shared_ptr<Table> WrappedTable() override { return Live(); }
    std::shared_ptr<Connection> WrappedConnection() override { return Live() ? connection_ : nullptr; }

    STDMETHODIMP GetName(long nMaxLen, char* name) override {
        return Run([&]() -> HRESULT {
            auto table = Live();
            return table ? CopyOut(table->Name(), nMaxLen, name) : E_FAIL;
        });
    }
    STDMETHODIMP GetFileName(long nMaxLen, char* name) override {
        return Run([&]() -> HRESULT {
            auto table = Live();
            return table ? CopyOut(FileName(*table), nMaxLen, name) : E_FAIL;
        });
    }
    STDMETHODIMP GetName(BSTR* name) override {
        return Run([&]() -> HRESULT {
            if (!name)
                return E_POINTER;
            *name = nullptr;
            auto table = Live();
            return table ? AnsiToBstr(table->Name(), name) : E_FAIL;
        });
    }
    STDMETHODIMP GetFileName(BSTR* name) override {
        return Run([&]() -> HRESULT {
            if (!name)
                return E_POINTER;
            *name = nullptr;
            auto table = Live();
            return table ? AnsiToBstr(FileName(*table), name) : E_FAIL;
        });
    }
    HRESULT Format(REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto table = Live();
        return table ? NewFormatObject(connection_, table->Format(), riid, out) : E_FAIL;
    }
    STDMETHODIMP GetFormat(IZvDBRecordFormat** f) override {
        return Run([&]() -> HRESULT { return Format(IID_IZvDBRecordFormat, (void**)f); });
    }
    STDMETHODIMP GetFormat(IUnknown** f) override {
        return Run([&]() -> HRESULT { return Format(IID_IZvDBRecordFormat, (void**)f); });
    }
    STDMETHODIMP GetTotalSpace(long* size) override {
        return Run([&]() -> HRESULT {
            uint64_t bytes = 0;
            auto table = Live();
            if (!size || !table || !table->FileSize(bytes))
                return E_FAIL;
            // A table file may reach 4 GiB; a long holds less.
            *size = static_cast<long>(std::min<uint64_t>(bytes, LONG_MAX));
            return S_OK;
        });
    }
    STDMETHODIMP IsValid() override {
        return Run([&]() -> HRESULT {
            auto table = Live();
            return table && (table->IsValid() || table->Reopen()) ? S_OK : E_FAIL;
        });
    }
    STDMETHODIMP Reload() override {
        return Run([&]() -> HRESULT {
            auto table = Live();
            if (!table)
                return E_FAIL;
            return table->Reopen() ? S_OK : S_FALSE;
        });
    }
    STDMETHODIMP Rename(LPSTR name) override {
        return Run([&]() -> HRESULT { return RenameTo(Text(name)); });
    }
    STDMETHODIMP Rename(BSTR name) override {
        return Run([&]() -> HRESULT { return RenameTo(ToAnsi(name)); });
    }
    STDMETHODIMP OpenWideCursor(IZvDBCursor** out) override {
        return Run([&]() -> HRESULT {
            if (!out)
                return E_POINTER;
            *out = nullptr;
            auto table = Live();
            return table ? HandOutCursor(connection_->OpenWideCursor(table), IID_IZvDBCursor, (void**)out)
                         : E_FAIL;
        });
    }
    STDMETHODIMP OpenNullCursor(IZvDBCursor** out) override {
        return Run([&]() -> HRESULT {
            if (!out)
                return E_POINTER;
            *out = nullptr;
            auto table = Live();
            return table ? HandOutCursor(connection_->OpenNullCursor(table), IID_IZvDBCursor, (void**)out)
                         : E_FAIL;
        });
    }
    STDMETHODIMP OpenCursor(IZvDBCondition* condition, IZvDBCursor** out) override {
        return Run([&]() -> HRESULT {
            if (!out)
                return E_POINTER;
            *out = nullptr;
            auto table = Live();
            return table ? HandOutCursor(OpenConditionCursor(*connection_, table, condition), IID_IZvDBCursor,
                                         (void**)out)
                         : E_FAIL;
        });
    }
    STDMETHODIMP OpenKeyCursor(long count, long* keys, IZvDBCursor** out) override {
        return Run([&]() -> HRESULT {
            if (!out)
                return E_POINTER;
            *out = nullptr;
            auto table = Live();
            std::vector<uint32_t> list;
            if (!table || !KeysFrom(count, keys, list))
                return E_FAIL;
            return HandOutCursor(connection_->OpenKeyCursor(table, std::move(list)), IID_IZvDBCursor,
                                 (void**)out);
        });
    }

  private:
    std::shared_ptr<Table> Live() {
        auto table = table_.lock();
        return table && !connection_->Closed() && connection_->CatalogOf().Owns(table.get()) ? table
                                                                                             : nullptr;
    }
    static std::string FileName(const Table& table) {
        const std::string& path = table.Path();
        const size_t slash = path.find_last_of("\\/");
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    HRESULT RenameTo(const std::string& name) {
        auto table = Live();
        return Check(table && connection_->CatalogOf().RenameTable(table.get(), name));
    }

    std::shared_ptr<Connection> connection_;
    std::weak_ptr<Table> table_;
};

// ---------------------------------------------------------------------------------------------
class ConnectionObject : public AutomationObject<ConnectionObject, &CLSID_ZvDBConnection, IZvDBConnection,
                                                 IZvDBConnectionDisp, IDbWrapped> {
  public:
    explicit ConnectionObject(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}
    ~ConnectionObject() override { connection_->CloseWhenIdle(); }

    std::shared_ptr<Connection> WrappedConnection() override { return Live(); }

    STDMETHODIMP GetTotalTables(long* count) override {
        return Run([&]() -> HRESULT {
            if (!count)
                return E_POINTER;
            *count = 0;
            auto connection = Live();
            if (!connection)
                return E_FAIL;
            *count = static_cast<long>(connection->CatalogOf().TableCount());
            return S_OK;
        });
    }
    HRESULT TableResult(std::shared_ptr<Table> table, REFIID riid, void** out) {
        return table ? NewTableObject(connection_, std::move(table), riid, out) : E_FAIL;
    }
    HRESULT ByName(const std::string& name, REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto connection = Live();
        return connection ? TableResult(connection->CatalogOf().TableByName(name), riid, out) : E_FAIL;
    }
    HRESULT ByIndex(long index, REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto connection = Live();
        if (!connection || index < 0)
            return E_FAIL;
        return TableResult(connection->CatalogOf().TableAt(static_cast<size_t>(index)), riid, out);
    }
    STDMETHODIMP GetTableByName(LPSTR n, IZvDBTable** t) override {
        return Run([&]() -> HRESULT { return ByName(Text(n), IID_IZvDBTable, (void**)t); });
    }
    STDMETHODIMP GetTableByName(BSTR n, IUnknown** t) override {
        return Run([&]() -> HRESULT { return ByName(ToAnsi(n), IID_IUnknown, (void**)t); });
    }
    STDMETHODIMP GetTableByIdx(long i, IZvDBTable** t) override {
        return Run([&]() -> HRESULT { return ByIndex(i, IID_IZvDBTable, (void**)t); });
    }
    STDMETHODIMP GetTableByIdx(long i, IUnknown** t) override {
        return Run([&]() -> HRESULT { return ByIndex(i, IID_IUnknown, (void**)t); });
    }
    // The engine's add has no COM caller.
    STDMETHODIMP AddTable(LPSTR, IZvDBRecordFormat*, long, long, long) override {
        return Run([&]() -> HRESULT { return E_NOTIMPL; });
    }
    STDMETHODIMP AddTable(BSTR, IUnknown*, long, long, long) override {
        return Run([&]() -> HRESULT { return E_NOTIMPL; });
    }
    HRESULT RenameTableTo(IUnknown* table, const std::string& name) {
        auto connection = Live();
        auto held = TableOf(table);
        return Check(connection && held && connection->CatalogOf().RenameTable(held.get(), name));
    }
    STDMETHODIMP RenameTable(IZvDBTable* t, LPSTR n) override {
        return Run([&]() -> HRESULT { return RenameTableTo(t, Text(n)); });
    }
    STDMETHODIMP RenameTable(IUnknown* t, BSTR n) override {
        return Run([&]() -> HRESULT { return RenameTableTo(t, ToAnsi(n)); });
    }
    HRESULT RemoveTableNamed(const std::string& name) {
        auto connection = Live();
        return Check(connection && connection->CatalogOf().RemoveTable(name));
    }
    STDMETHODIMP RemoveTable(LPSTR n) override {
        return Run([&]() -> HRESULT { return RemoveTableNamed(Text(n)); });
    }
    STDMETHODIMP RemoveTable(BSTR n) override {
        return Run([&]() -> HRESULT { return RemoveTableNamed(ToAnsi(n)); });
    }

    template <class Open> HRESULT CursorOn(IUnknown* tableFace, REFIID riid, void** out, Open open) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto connection = Live();
        auto table = TableOf(tableFace);
        if (!connection || !table)
            return E_FAIL;
        return HandOutCursor(open(*connection, table), riid, out);
    }
    STDMETHODIMP OpenNullCursor(IZvDBTable* t, IZvDBCursor** c) override {
        return Run([&]() -> HRESULT {
            return CursorOn(t, IID_IZvDBCursor, (void**)c,
                            [](Connection& k, auto& table) { return k.OpenNullCursor(table); });
        });
    }
    STDMETHODIMP OpenNullCursor(IUnknown* t, IUnknown** c) override {
        return Run([&]() -> HRESULT {
            return CursorOn(t, IID_IUnknown, (void**)c,
                            [](Connection& k, auto& table) { return k.OpenNullCursor(table); });
        });
    }
    STDMETHODIMP OpenWideCursor(IUnknown* t, IUnknown** c) override {
        return Run([&]() -> HRESULT {
            return CursorOn(t, IID_IUnknown, (void**)c,
                            [](Connection& k, auto& table) { return k.OpenWideCursor(table); });
        });
    }
    STDMETHODIMP OpenCursor(IZvDBTable* t, IZvDBCondition* condition, IZvDBCursor** c) override {
        return Run([&]() -> HRESULT {
            return CursorOn(t, IID_IZvDBCursor, (void**)c, [&](Connection& k, auto& table) {
                return OpenConditionCursor(k, table, condition);
            });
        });
    }
    STDMETHODIMP OpenCursor(IUnknown* t, IUnknown* conditionFace, IUnknown** c) override {
        return Run([&]() -> HRESULT {
            ComPtr<IZvDBCondition> condition;
            if (conditionFace)
                conditionFace->QueryInterface(IID_IZvDBCondition, reinterpret_cast<void**>(&condition));
            return CursorOn(t, IID_IUnknown, (void**)c, [&](Connection& k, auto& table) {
                return OpenConditionCursor(k, table, condition.Get());
            });
        });
    }
    STDMETHODIMP OpenKeyCursor(IZvDBTable* t, long count, long* keys, IZvDBCursor** c) override {
        return Run([&]() -> HRESULT {
            std::vector<uint32_t> list;
            const bool listed = KeysFrom(count, keys, list);
            return CursorOn(t, IID_IZvDBCursor, (void**)c, [&](Connection& k, auto& table) {
                return listed ? k.OpenKeyCursor(table, std::move(list)) : nullptr;
            });
        });
    }
    STDMETHODIMP OpenKeyCursor(IUnknown* t, VARIANT keys, IUnknown** c) override {
        return Run([&]() -> HRESULT {
            if (!c)
                return E_POINTER;
            *c = nullptr;
            std::vector<uint32_t> list;
            TV_RETURN_IF_FAILED(KeysFromArray(keys, list));
            return CursorOn(t, IID_IUnknown, (void**)c, [&](Connection& k, auto& table) {
                return k.OpenKeyCursor(table, std::move(list));
            });
        });
    }
    HRESULT NewFormat(REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto connection = Live();
        return connection ? NewFormatObject(connection, RecordFormat(), riid, out) : E_FAIL;
    }
    STDMETHODIMP CreateFormat(IZvDBRecordFormat** f) override {
        return Run([&]() -> HRESULT { return NewFormat(IID_IZvDBRecordFormat, (void**)f); });
    }
    STDMETHODIMP CreateFormat(IUnknown** f) override {
        return Run([&]() -> HRESULT { return NewFormat(IID_IZvDBRecordFormat, (void**)f); });
    }
    STDMETHODIMP CloseCursor(IUnknown* cursorFace) override {
        return Run([&]() -> HRESULT {
            auto cursor = CursorOf(cursorFace);
            return Check(Live() && cursor && cursor->Close());
        });
    }
    STDMETHODIMP ReleaseFormat(IUnknown* format) override {
        return Run([&]() -> HRESULT { return Check(Live() && ReleaseFormatOf(format)); });
    }

  private:
    std::shared_ptr<Connection> Live() { return connection_->Closed() ? nullptr : connection_; }

    // A one-dimensional SAFEARRAY of long in a VARIANT; every element a key, in index order.
    static HRESULT KeysFromArray(const VARIANT& keys, std::vector<uint32_t>& list) {
        const VARIANT* v = &keys;
        if (V_VT(v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(v))
            v = V_VARIANTREF(v);
        SAFEARRAY* array = nullptr;
        if (V_VT(v) == (VT_ARRAY | VT_I4))
            array = V_ARRAY(v);
        else if (V_VT(v) == (VT_ARRAY | VT_I4 | VT_BYREF) && V_ARRAYREF(v))
            array = *V_ARRAYREF(v);
        if (!array || SafeArrayGetDim(array) != 1)
            return E_FAIL;
        LONG lower = 0, upper = -1;
        TV_RETURN_IF_FAILED(SafeArrayGetLBound(array, 1, &lower));
        TV_RETURN_IF_FAILED(SafeArrayGetUBound(array, 1, &upper));
        // More keys than a cursor takes are refused before they are copied.
        if (int64_t{upper} - lower + 1 > static_cast<int64_t>(kMaxCursorKeys))
            return E_FAIL;
        for (int64_t at = lower; at <= upper; ++at) {
            LONG i = static_cast<LONG>(at), key = 0;
            TV_RETURN_IF_FAILED(SafeArrayGetElement(array, &i, &key));
            list.push_back(static_cast<uint32_t>(key));
        }
        return S_OK;
    }

    std::shared_ptr<Connection> connection_;
};

} // namespace

HRESULT NewConnectionObject(std::shared_ptr<Connection> connection, REFIID riid, void** ppv) {
    return CreateComObject<ConnectionObject>(riid, ppv, std::move(connection));
}
HRESULT NewTableObject(std::shared_ptr<Connection> connection, std::shared_ptr<Table> table, REFIID riid,
                       void** ppv) {
    return CreateComObject<TableObject>(riid, ppv, std::move(connection), std::move(table));
}
HRESULT NewCursorObject(std::shared_ptr<Cursor> cursor, REFIID riid, void** ppv) {
    return CreateComObject<CursorObject>(riid, ppv, std::move(cursor));
}
HRESULT NewRecordObject(std::shared_ptr<Record> record, REFIID riid, void** ppv) {
    return CreateComObject<RecordObject>(riid, ppv, std::move(record));
}
HRESULT NewFormatObject(std::shared_ptr<Connection> connection, RecordFormat format, REFIID riid,
                        void** ppv) {
    return CreateComObject<RecordFormatObject>(riid, ppv, std::move(connection), std::move(format));
}

void ReportFailure(REFCLSID clsid, REFIID iid, HRESULT hr) noexcept {
    try {
        tv::com::SetComErrorInfo(clsid, FailureText(hr), iid, hr, tv::dll::LanguageLibrary());
    } catch (...) {
        // Without memory for the text the call still fails with its result.
    }
}

std::shared_ptr<Connection> ConnectionOf(IUnknown* object) {
    auto wrapped = Wrapped(object);
    return wrapped ? wrapped->WrappedConnection() : nullptr;
}
std::shared_ptr<Table> TableOf(IUnknown* object) {
    auto wrapped = Wrapped(object);
    return wrapped ? wrapped->WrappedTable() : nullptr;
}
std::shared_ptr<Cursor> CursorOf(IUnknown* object) {
    auto wrapped = Wrapped(object);
    return wrapped ? wrapped->WrappedCursor() : nullptr;
}
std::shared_ptr<Record> RecordOf(IUnknown* object) {
    auto wrapped = Wrapped(object);
    return wrapped ? wrapped->WrappedRecord() : nullptr;
}
const RecordFormat* FormatOf(IUnknown* object) {
    auto wrapped = Wrapped(object);
    return wrapped ? wrapped->WrappedFormat() : nullptr;
}
bool ReleaseFormatOf(IUnknown* object) {
    auto wrapped = Wrapped(object);
    return wrapped && wrapped->ReleaseWrappedFormat();
}

} // namespace tv::devdb::com
