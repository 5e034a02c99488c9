// A script client of the hub working with the files of a 1.5 device: lists its volumes and
// folders, imports a PC folder tree and exports it back, copies, moves, renames, creates and
// deletes on the device, and reads volume and device information.
// Arguments: the device's name, the PC folder that holds the tree b, the PC folder to export to.
// Ends with the number of failed checks (0: everything gave what it should).
var device = WScript.Arguments(0);
var pcFolder = WScript.Arguments(1);
var outFolder = WScript.Arguments(2);
var main = device + "\\Main";
var fso = new ActiveXObject("Scripting.FileSystemObject");
eval(fso.OpenTextFile(fso.GetParentFolderName(WScript.ScriptFullName) + "\\script_checks.js").ReadAll());

function step(what, action) {
    try {
        action();
    } catch (e) {
        check(false, what + ": " + e.description);
    }
}

runChecks(run);

function run() {
    var hub = new ActiveXObject("Tavrilon.ZelvanMgr");
    // Every console command of the device takes a few hundred milliseconds: a folder's transfer
    // may need longer than the default ten seconds.
    hub.Timeout = 60000;

    // The device, its volumes and what the device holds.
    check(names(hub.Items("")) == device, "devices: " + names(hub.Items("")));
    check(names(hub.Items(device)) == "Card,Main", "volumes: " + names(hub.Items(device)));
    check(names(hub.Items(main)) == "docs", "Main: " + names(hub.Items(main)));
    check(names(hub.Items(main + "\\docs")) == "a.txt,old", "docs: " + names(hub.Items(main + "\\docs")));
    check(names(hub.Items(main + "\\docs\\old")) == "b.txt", "docs\\old: " + names(hub.Items(main + "\\docs\\old")));
    var docs = hub.Items(main + "\\docs");
    for (var i = 1; i <= docs.Count; i++) {
        if (docs.Item(i) == "a.txt") {
            check(docs.ItemSize(i) == 700, "size of a.txt: " + docs.ItemSize(i));
            check(docs.ItemType(i) == 8, "type of a.txt: " + docs.ItemType(i));
        } else {
            check(docs.ItemType(i) == 4, "type of old: " + docs.ItemType(i));
        }
    }
    check(hub.GetDeviceIDByName(device) == "@E2E0015", "device id");
    check(hub.GetDeviceNameByID("@E2E0015") == device, "device name");
    check(hub.GetDeviceModelVersion(device) == 21, "model version");
    check(hub.GetDeviceSubmodelVersion(device) == 0, "submodel version");
    check(hub.GetVolumeFreeSpace(main) > 0, "free space of Main");
    check(hub.GetVolumeFreeSpace(device + "\\Card") > 0, "free space of Card");
    check(hub.Command(device, "sysinfo").indexOf("E2E15DEVICE1") >= 0, "sysinfo names the device");

    // A PC folder tree onto the device and back: the same names, sizes and times.
    step("create x", function () { hub.CreateFolder(main + "\\x"); });
    step("create keep", function () { hub.CreateFolder(main + "\\keep"); });
    step("import", function () { hub.CopyFileItem(pcFolder + "\\b", main + "\\x\\b"); });
    check(names(hub.Items(main + "\\x\\b")) == "f.txt,sub", "imported: " + names(hub.Items(main + "\\x\\b")));
    check(names(hub.Items(main + "\\x\\b\\sub")) == "g.txt", "imported sub: " + names(hub.Items(main + "\\x\\b\\sub")));
    step("export", function () { hub.CopyFileItem(main + "\\x\\b", outFolder + "\\b"); });
    function sameTree(devicePath, pcPath) {
        check(fso.FolderExists(pcPath), "exported folder " + pcPath);
        if (!fso.FolderExists(pcPath))
            return;
        var items = hub.Items(devicePath);
        var folder = fso.GetFolder(pcPath);
        check(folder.Files.Count + folder.SubFolders.Count == items.Count, "entries of " + pcPath);
        for (var i = 1; i <= items.Count; i++) {
            var path = pcPath + "\\" + items.Item(i);
            if (items.ItemType(i) == 4) {
                sameTree(devicePath + "\\" + items.Item(i), path);
                continue;
            }
            check(fso.FileExists(path), "exported file " + path);
            if (!fso.FileExists(path))
                continue;
            var file = fso.GetFile(path);
            check(file.Size == items.ItemSize(i), "size of " + path);
            var pcTime = new Date(file.DateLastModified).getTime();
            var deviceTime = new Date(items.ItemTime(i)).getTime();
            check(pcTime == deviceTime, "time of " + path + ": " + new Date(pcTime) + " on the device " + new Date(deviceTime));
        }
    }
    sameTree(main + "\\x\\b", outFolder + "\\b");

    // On the device: a folder copy, a file copy, a move, a rename, folders made and deleted.
    step("copy folder", function () { hub.CopyFileItem(main + "\\docs", main + "\\keep\\docs"); });
    check(names(hub.Items(main + "\\keep\\docs")) == "a.txt,old", "copied: " + names(hub.Items(main + "\\keep\\docs")));
    check(names(hub.Items(main + "\\keep\\docs\\old")) == "b.txt", "copied old: " + names(hub.Items(main + "\\keep\\docs\\old")));
    step("copy file", function () { hub.CopyFileItem(main + "\\docs\\a.txt", main + "\\a.txt"); });
    step("move", function () { hub.RenameItem(main + "\\docs\\a.txt", main + "\\x\\moved.txt"); });
    check(names(hub.Items(main + "\\docs")) == "old", "after the move: " + names(hub.Items(main + "\\docs")));
    step("rename", function () { hub.RenameItem(main + "\\x\\moved.txt", main + "\\x\\renamed.txt"); });
    check(names(hub.Items(main + "\\x")) == "b,renamed.txt", "x: " + names(hub.Items(main + "\\x")));
    step("create New", function () { hub.CreateFolder(main + "\\New"); });
    step("create Games", function () { hub.CreateFolder(main + "\\Games"); });
    step("import into Games", function () { hub.CopyFileItem(pcFolder + "\\b\\f.txt", main + "\\Games\\f.txt"); });
    check(names(hub.Items(main)) == "Games,New,a.txt,docs,keep,x", "Main: " + names(hub.Items(main)));
    step("delete file", function () { hub.DeleteItem(main + "\\a.txt"); });
    step("delete folder", function () { hub.DeleteItem(main + "\\Games"); });
    check(names(hub.Items(main)) == "New,docs,keep,x", "after the deletions: " + names(hub.Items(main)));

    // Failures reach the script as errors.
    check(fails(function () { hub.RenameItem(main + "\\nothing.txt", main + "\\x\\y.txt"); }), "rename of a missing item");
    check(fails(function () { hub.CopyFileItem(main + "\\x\\renamed.txt", "C:\\nowhere\\renamed.txt"); }), "export into a missing PC folder");
}
