// A script client of the hub in the running program: lists devices and folders, copies to, from
// and within a device, renames, creates and deletes, and reads volume data. Arguments: the PC
// folder to copy from and to. Ends with 0 when every step gave what it should.
var pcFolder = WScript.Arguments(0);
var fso = new ActiveXObject("Scripting.FileSystemObject");
eval(fso.OpenTextFile(fso.GetParentFolderName(WScript.ScriptFullName) + "\\script_checks.js").ReadAll());
runChecks(function () {
    var hub = new ActiveXObject("Tavrilon.ZelvanMgr");
    check(names(hub.Items("")) == "DevA,DevB", "devices: " + names(hub.Items("")));
    check(names(hub.Items("DevA\\Docs")) == "a.txt", "DevA\\Docs: " + names(hub.Items("DevA\\Docs")));
    check(hub.GetDeviceIDByName("DevA") == "@TDDevA", "device id");

    hub.CopyFileItem(pcFolder + "\\js.txt", "DevA\\Docs\\js.txt");
    check(names(hub.Items("DevA\\Docs")) == "a.txt,js.txt", "after import: " + names(hub.Items("DevA\\Docs")));
    hub.CopyFileItem("DevA\\Docs\\a.txt", pcFolder + "\\from-device-js.txt");
    check(fso.FileExists(pcFolder + "\\from-device-js.txt"), "export");
    hub.CopyFileItem("DevA\\Docs\\js.txt", "DevA\\js-copy.txt");
    hub.RenameItem("DevA\\js-copy.txt", "DevA\\js-renamed.txt");
    hub.CreateFolder("DevA\\JsFolder");
    check(names(hub.Items("DevA")) == "Docs,JsFolder,js-renamed.txt", "after copy/rename/create: " + names(hub.Items("DevA")));
    hub.DeleteItem("DevA\\js-renamed.txt");
    hub.DeleteItem("DevA\\JsFolder");
    hub.DeleteItem("DevA\\Docs\\js.txt");
    check(names(hub.Items("DevA")) == "Docs", "after delete: " + names(hub.Items("DevA")));
    check(hub.GetVolumeFreeSpace("DevA") > 0, "free space");
    check(hub.Items("DevA\\Docs").ItemSize(1) == 11, "item size");
    check(fails(function () { hub.CopyFileItem("DevA\\Docs\\a.txt", "DevB\\a.txt"); }), "copy between devices fails");
    check(fails(function () { hub.CopyFileItem("C:\\nowhere\\a", "C:\\nowhere\\b"); }), "copy without a device fails");
});
