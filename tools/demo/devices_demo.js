// Demonstrates the suite with the emulated devices on their real links: lists every device the
// hub reports with its first medium, copies a PC file onto that medium and back, compares the
// two and prints what it did. Argument: a PC folder holding hello.txt.
var pcFolder = WScript.Arguments(0);
var files = new ActiveXObject("Scripting.FileSystemObject");
var hub = null;

function readText(path) {
    var stream = files.OpenTextFile(path, 1);
    var text = stream.AtEndOfStream ? "" : stream.ReadAll();
    stream.Close();
    return text;
}

function describe(error) {
    return error.description || error.message || String(error);
}

function listed(name) {
    var items = hub.Items("");
    for (var i = 1; i <= items.Count; i++)
        if (items.Item(i) == name)
            return true;
    return false;
}

var failures = 0;
var both = false;
try {
    hub = new ActiveXObject("Tavrilon.ZelvanMgr");
    var devices = hub.Items("");
    WScript.Echo("Devices: " + devices.Count);
    for (var d = 1; d <= devices.Count; d++) {
        var device = devices.Item(d);
        var media = hub.Items(device);
        if (media.Count == 0) {
            WScript.Echo(device + ": no medium");
            failures++;
            continue;
        }
        var medium = device + "\\" + media.Item(1);
        WScript.Echo(device + ": " + media.Count + " medium/media, first " + media.Item(1));
        var back = pcFolder + "\\hello-from-" + d + ".txt";
        try {
            hub.CopyFileItem(pcFolder + "\\hello.txt", medium + "\\hello.txt");
            WScript.Echo("  copied hello.txt to " + medium);
            hub.CopyFileItem(medium + "\\hello.txt", back);
        } catch (e) {
            WScript.Echo("  the copy failed: " + describe(e));
        }
        var same = files.FileExists(back) && readText(back) == readText(pcFolder + "\\hello.txt");
        WScript.Echo("  copied it back to " + back + (same ? ": same text" : ": DIFFERENT"));
        if (!same)
            failures++;
    }
    both = listed("Handheld 1.5") && listed("Handheld 1.0");
    if (!both)
        WScript.Echo("the emulated handhelds were not both found");
} catch (e) {
    // Wine's script host reports no error a script leaves uncaught, and exits with 0.
    WScript.Echo("the hub failed: " + describe(e));
    failures++;
}
WScript.Echo("devices demo: " + (failures == 0 && both ? "done" : "FAILED"));
WScript.Quit(failures == 0 && both ? 0 : 1);
