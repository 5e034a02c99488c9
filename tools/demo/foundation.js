// Shows what the installed suite provides so far: the machine-wide values the deliverables
// read, and the marshalling registered for each custom contract.
var shell = WScript.CreateObject("WScript.Shell");
var failures = 0;

function read(path) {
    try {
        return shell.RegRead(path);
    } catch (e) {
        return null;
    }
}

function check(label, value) {
    if (value === null || value === undefined || value === "") {
        WScript.Echo("MISSING " + label);
        failures++;
    } else {
        WScript.Echo(label + " = " + value);
    }
}

var machine = "HKLM\\Software\\Zelvan\\Tavrilon\\";
check("LangID", read(machine + "LangID"));
check("Image", read(machine + "Image"));
check("HelpRoot", read(machine + "HelpRoot"));
check("Item store", read(machine + "ZvRegistrar\\"));

var contracts = {
    "IZvDevice": "{D21E0914-4E9E-4830-938A-BA3872C32959}",
    "IZvEnumFileItems": "{12356582-18A0-4C12-89BC-E64323CF88C5}",
    "IZvFileOperationCallback": "{1434D77A-A3DC-4688-BA12-C94652D066E7}",
    "IZvFactory": "{70BCF381-3885-43EB-A926-97CC4EEC0E76}",
    "IZvFactoryCallback": "{8D543B26-88A7-42AE-8F80-92DAE494118E}",
    "IZelvanMgr": "{5926D32E-B294-463A-972F-1A6D635482D8}",
    "IZvSyncMgr": "{B3B6B314-8DDE-4C75-AC7F-59A916AD2A89}",
    "IZvBackupMgr": "{12EE4AF6-F5C4-4736-9BA2-AB54C5463700}",
    "IZvAssocMgr": "{F73DC4FA-7DEC-4A63-9B5F-4A51B606709C}"
};
for (var name in contracts) {
    check(name + " marshalled by", read("HKCR\\Interface\\" + contracts[name] + "\\ProxyStubClsid32\\"));
}
WScript.Echo(failures == 0 ? "foundation: all present" : "foundation: " + failures + " missing");
WScript.Quit(failures == 0 ? 0 : 1);
