// Drives "Tavrilon.ZvRegistrar" as a script client does. "write" stores one item of each kind and
// flushes the store; "read" (run in a second process) fetches them back. Every failed check prints
// a "FAIL" line; the exit code is the number of failures.
var mode = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "write";
var reg = new ActiveXObject("Tavrilon.ZvRegistrar");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var failures = 0;
var RIT_STRING = 1, RIT_DWORD = 2, RIT_FILE = 3, RIT_SCRIPT = 4;
var scriptText = "function OnConnect(device) { return device != null; }";
var fileText = "line one\r\nline two\r\n";

function check(condition, what) {
    if (!condition) {
        WScript.Echo("FAIL " + what);
        failures++;
    }
}

function hex(n) {
    return "0x" + (n >>> 0).toString(16).toUpperCase();
}

// Runs `action`, which must throw; prints the error's code and text.
function expectError(label, action) {
    try {
        action();
        check(false, label + " did not fail");
    } catch (e) {
        WScript.Echo("error " + label + " " + hex(e.number) + " " + e.description);
    }
}

if (mode == "write") {
    reg.ItemString("ScriptTest\\Greeting") = "hello";
    check(reg.ItemString("ScriptTest\\Greeting") == "hello", "string read back");
    reg.ItemDWORD("ScriptTest\\Count") = 42;
    check(reg.ItemDWORD("ScriptTest\\Count") == 42, "DWORD read back");

    reg.PutItemScript("ScriptTest.OnConnect", "old text", 1);
    reg.PutItemScript("ScriptTest.OnConnect", scriptText, 3);
    var source = fso.BuildPath(fso.GetSpecialFolder(2).Path, "registrar_test_source.txt");
    var stream = fso.CreateTextFile(source, true);
    stream.Write(fileText);
    stream.Close();
    reg.PutItemFile("ScriptTest.Data", source, 5);
    fso.DeleteFile(source);
    check(reg.HasItem(RIT_SCRIPT, "ScriptTest.OnConnect"), "unsaved script is there");

    var tooLong = "";
    while (tooLong.length < 1024)
        tooLong += "x";
    expectError("too-long", function () { reg.ItemString("ScriptTest\\Long") = tooLong; });
    expectError("missing-script", function () { return reg.ItemScript("ScriptTest.Missing"); });
    expectError("missing-dword", function () { return reg.ItemDWORD("ScriptTest\\Missing"); });
    expectError("unknown-type", function () { return reg.HasItem(7, "x"); });
    reg.Flush();
} else {
    check(reg.ItemString("ScriptTest\\Greeting") == "hello", "string in second process");
    check(reg.ItemDWORD("ScriptTest\\Count") == 42, "DWORD in second process");
    check(reg.HasItem(RIT_SCRIPT, "ScriptTest.OnConnect"), "script is in the store file");
    check(!reg.HasItem(RIT_FILE, "ScriptTest.OnConnect"), "a script is no file");
    check(reg.ItemScript("ScriptTest.OnConnect") == scriptText, "script text");
    check(reg.Version(RIT_SCRIPT, "ScriptTest.OnConnect") == 3, "script version replaced");
    check(reg.Version(RIT_FILE, "ScriptTest.Data") == 5, "file version");
    check(reg.Version(RIT_STRING, "ScriptTest\\Greeting") == 0, "string version");
    var copy = reg.ItemFile("ScriptTest.Data");
    var reader = fso.OpenTextFile(copy, 1);
    var content = reader.AtEndOfStream ? "" : reader.ReadAll();
    reader.Close();
    fso.DeleteFile(copy);
    check(content == fileText, "file content");
    reg.RemoveItem(RIT_SCRIPT, "ScriptTest.OnConnect");
    reg.RemoveItem(RIT_FILE, "ScriptTest.Data");
    reg.RemoveItem(RIT_STRING, "ScriptTest\\Greeting");
    reg.RemoveItem(RIT_DWORD, "ScriptTest\\Count");
    check(!reg.HasItem(RIT_DWORD, "ScriptTest\\Count"), "DWORD removed");
    expectError("removed-script", function () { return reg.ItemScript("ScriptTest.OnConnect"); });
    reg.Flush();
}
WScript.Echo(mode + " done, failures: " + failures);
WScript.Quit(failures);
