// Drives "Tavrilon.ZvDatabaseMgr" through its dispatch twins as a script client does, on a copy of
// the fixture "compare" (table Mail: Subject, Flags, To, From; keys 1 and 2) whose catalog path is the
// argument. Every failed check prints a "FAIL" line; the exit code is the number of failures.
var catalog = WScript.Arguments(0);
var fso = new ActiveXObject("Scripting.FileSystemObject");
var failures = 0;
var E_FAIL = 0x80004005, E_NOTIMPL = 0x80004001;

function check(condition, what) {
    if (!condition) {
        WScript.Echo("FAIL " + what);
        failures++;
    }
}

// Runs `action`, which must fail with `code`.
function expectError(code, what, action) {
    try {
        action();
        check(false, what + " did not fail");
    } catch (e) {
        check((e.number >>> 0) == code, what + " failed with 0x" + (e.number >>> 0).toString(16));
    }
}

var mgr = new ActiveXObject("Tavrilon.ZvDatabaseMgr");
var conn = mgr.OpenConnection(catalog);
check(conn.GetTotalTables() == 1, "one table");
var table = conn.GetTableByName("Mail");
check(table.GetName() == "Mail", "table name");
check(/^[0-9A-F]{8}\.t$/.test(table.GetFileName()), "file name " + table.GetFileName());
check(table.GetTotalSpace() == 4096, "file size");
check(conn.GetTableByIdx(0).GetName() == "Mail", "table by index");
expectError(E_FAIL, "unknown table", function () { conn.GetTableByName("None"); });
expectError(E_NOTIMPL, "AddTable", function () { conn.AddTable("New", conn.CreateFormat(), 4096, 1024, 0); });

// Reading: typed getters, a getter of another kind, a refused set, releasing.
var wide = conn.OpenWideCursor(table);
check(wide.GetRecordCount() == 2, "two rows");
var first = wide.GetAt(0);
check(first.GetKey() == 1, "first key");
check(first.GetString(0) == "Hello", "subject");
check(first.GetDword(1) == 7, "flags");
check(first.GetWord(1) == 0, "a word of a dword field reads 0");
check(first.GetString(2) == "ann@example.com", "to");
check(first.GetString(3) == "", "missing from");
check(first.GetSize(2) == 15, "size of to");
check(first.GetRef(1) == 0, "a reference of a dword field reads 0");
expectError(E_FAIL, "set on a record read", function () { first.SetDword(1, 1); });
wide.ReleaseRecord(first);
expectError(E_FAIL, "second release", function () { wide.ReleaseRecord(first); });
expectError(E_FAIL, "use after release", function () { first.GetKey(); });

// Editing: the record is out, so the cursor cannot close; after the release it can.
var edited = wide.EditAt(1);
edited.SetString(0, "Edited in a script");
edited.SetDword(1, 99);
edited.SetString(3, "script@example.com");
edited.Commit();
expectError(E_FAIL, "a second edit of the row", function () { wide.EditAt(1); });
expectError(E_FAIL, "close with a record out", function () { conn.CloseCursor(wide); });
wide.ReleaseRecord(edited);
check(wide.GetIndexByKey(2) == 1, "index of key 2");
check(wide.GetIndexByKey(99) == -1, "index of a key not listed");
check(wide.GetFormat() != null, "format of the cursor");

// Adding through a null cursor.
var empty = conn.OpenNullCursor(table);
check(empty.GetRecordCount() == 0, "null cursor is empty");
var added = empty.Add();
added.SetString(0, "Added");
expectError(E_FAIL, "a bool set on a dword field", function () { added.SetBool(1, true); });
added.SetDword(1, 3);
added.SetString(2, "zed@example.com");
added.Commit();
check(added.GetKey() == 3, "new key " + added.GetKey());
empty.ReleaseRecord(added);
conn.CloseCursor(empty);

// Removing, then closing everything and reopening.
wide.RemoveAt(0);
check(wide.GetRecordCount() == 1, "one row left in the cursor");
conn.CloseCursor(wide);
expectError(E_FAIL, "use of a closed cursor", function () { wide.GetRecordCount(); });
expectError(E_FAIL, "a key cursor from a script array", function () { conn.OpenKeyCursor(table, [2, 3]); });
expectError(E_FAIL, "a condition that is not one", function () { conn.OpenCursor(table, table); });
var format = conn.CreateFormat();
conn.ReleaseFormat(format);
expectError(E_FAIL, "second format release", function () { conn.ReleaseFormat(format); });
expectError(E_FAIL, "drop while open", function () { mgr.DropDatabase(catalog); });
mgr.CloseConnection(conn);
expectError(E_FAIL, "use of a closed connection", function () { conn.GetTotalTables(); });

conn = mgr.OpenConnection(catalog);
table = conn.GetTableByName("Mail");
wide = conn.OpenWideCursor(table);
check(wide.GetRecordCount() == 2, "two rows after reopening");
var back = wide.GetAt(0);
check(back.GetKey() == 2 && back.GetString(0) == "Edited in a script" && back.GetDword(1) == 99, "edited row");
check(back.GetString(2) == "" && back.GetString(3) == "script@example.com", "edited lists");
wide.ReleaseRecord(back);
back = wide.GetAt(1);
check(back.GetKey() == 3 && back.GetString(0) == "Added" && back.GetString(2) == "zed@example.com", "added row");
wide.ReleaseRecord(back);
conn.CloseCursor(wide);
table.Rename("Letters");
check(conn.GetTableByName("Letters").GetName() == "Letters", "renamed");
conn.RenameTable(table, "Mail");
conn.RemoveTable("Mail");
check(conn.GetTotalTables() == 0, "table removed");
mgr.CloseConnection(conn);
mgr.DropDatabase(catalog);
check(!fso.FileExists(catalog), "catalog dropped");

WScript.Echo("jscript done, failures: " + failures);
WScript.Quit(failures);
