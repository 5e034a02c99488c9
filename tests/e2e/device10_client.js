// A script client of the hub working with the files of a 1.0 device: lists the device and its
// media, copies a PC file onto the device and back, deletes it and reads the device's identity,
// versions, description and free space.
// Arguments: the device's name, its string id, the PC folder holding hub-up.bin (2000 bytes);
// the device's main medium holds up.bin (1500 bytes), its card medium card.txt.
// Ends with the number of failed checks (0: everything gave what it should).
var device = WScript.Arguments(0);
var deviceId = WScript.Arguments(1);
var pcFolder = WScript.Arguments(2);
var flash = device + "\\Device Flash";
var card = device + "\\Memory Card";
var fso = new ActiveXObject("Scripting.FileSystemObject");
eval(fso.OpenTextFile(fso.GetParentFolderName(WScript.ScriptFullName) + "\\script_checks.js").ReadAll());

runChecks(run);

// The size the listing gives for a name, -1 when the name is not listed.
function sizeOf(items, name) {
    for (var i = 1; i <= items.Count; i++) {
        if (items.Item(i) == name)
            return items.ItemType(i) == 8 ? items.ItemSize(i) : -2;
    }
    return -1;
}

function run() {
    var hub = new ActiveXObject("Tavrilon.ZelvanMgr");
    // A 1.0 device answers over a serial line: a transfer takes seconds.
    hub.Timeout = 60000;

    check(names(hub.Items("")) == device, "devices: " + names(hub.Items("")));
    check(names(hub.Items(device)) == "Device Flash,Memory Card", "media: " + names(hub.Items(device)));
    check(names(hub.Items(flash)) == "up.bin", "Device Flash: " + names(hub.Items(flash)));
    check(sizeOf(hub.Items(flash), "up.bin") == 1500, "size of up.bin: " + sizeOf(hub.Items(flash), "up.bin"));
    check(names(hub.Items(card)) == "card.txt", "Memory Card: " + names(hub.Items(card)));

    check(hub.GetDeviceIDByName(device) == deviceId, "device id: " + hub.GetDeviceIDByName(device));
    check(hub.GetDeviceNameByID(deviceId) == device, "device name: " + hub.GetDeviceNameByID(deviceId));
    check(hub.GetDeviceModelVersion(device) == 16, "model version: " + hub.GetDeviceModelVersion(device));
    // The emulated medium has 2043 blocks: the model the factory reads from "sysinfo".
    check(hub.GetDeviceSubmodelVersion(device) == 119, "submodel version: " + hub.GetDeviceSubmodelVersion(device));
    check(hub.GetDeviceDescription(device) != "", "device description");
    check(hub.GetVolumeFreeSpace(flash) > 0, "free space of Device Flash: " + hub.GetVolumeFreeSpace(flash));

    // PC to device, device to PC, delete on the device.
    hub.CopyFileItem(pcFolder + "\\hub-up.bin", flash + "\\hub.bin");
    check(names(hub.Items(flash)) == "hub.bin,up.bin", "after the import: " + names(hub.Items(flash)));
    check(sizeOf(hub.Items(flash), "hub.bin") == 2000, "size of hub.bin: " + sizeOf(hub.Items(flash), "hub.bin"));
    hub.CopyFileItem(flash + "\\hub.bin", pcFolder + "\\hub-down.bin");
    check(fso.FileExists(pcFolder + "\\hub-down.bin") && fso.GetFile(pcFolder + "\\hub-down.bin").Size == 2000,
          "exported hub-down.bin");
    hub.DeleteItem(flash + "\\hub.bin");
    check(names(hub.Items(flash)) == "up.bin", "after the deletion: " + names(hub.Items(flash)));

    // Failures reach the script as errors.
    check(fails(function () { hub.CopyFileItem(flash + "\\nothing.bin", pcFolder + "\\nothing.bin"); }),
          "export of a missing device file");
    check(fails(function () { hub.DeleteItem(flash + "\\nothing.bin"); }), "deletion of a missing device file");
}
