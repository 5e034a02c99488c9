// Demonstrates the running suite through its hub: lists the connected devices and their
// folders, copies a PC file to the first device and back, and reads its free space.
// Argument: a PC folder to copy from and to.
var pcFolder = WScript.Arguments(0);
var hub = null;

function show(path, depth) {
    var items = hub.Items(path);
    for (var i = 1; i <= items.Count; i++) {
        var name = items.Item(i);
        var folder = items.ItemType(i) != 8;
        WScript.Echo(new Array(depth + 1).join("  ") + name + (folder ? "\\" : "  (" + items.ItemSize(i) + " bytes)"));
        if (folder && depth < 2)
            show(path == "" ? name : path + "\\" + name, depth + 1);
    }
}

// A failed call of the hub ends the demo with its error, so that the run command sees it (Wine's
// script host reports no error a script leaves uncaught, and exits with 0).
try {
    hub = new ActiveXObject("Tavrilon.ZelvanMgr");
    var devices = hub.Items("");
    WScript.Echo("Devices: " + devices.Count);
    show("", 0);
    if (devices.Count > 0) {
        var device = devices.Item(1);
        WScript.Echo("Copying hello.txt to " + device + " and back");
        hub.CopyFileItem(pcFolder + "\\hello.txt", device + "\\hello.txt");
        hub.CopyFileItem(device + "\\hello.txt", pcFolder + "\\hello-back.txt");
        WScript.Echo(device + " has " + hub.GetVolumeFreeSpace(device) + " bytes free");
    }
} catch (e) {
    WScript.Echo("demo: FAILED (" + (e.description || e.message || e) + ")");
    WScript.Quit(1);
}
WScript.Echo("demo: done");
