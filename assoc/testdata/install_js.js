// Installs the package's readme into "Packages" on the first connected device, under a name
// that carries the package's version.
function has(items, name) {
    for (var i = 1; i <= items.Count; i++)
        if (items.Item(i) == name)
            return true;
    return false;
}

// "Packages" at the top of the first device, or on the first of its storage media that holds one.
function packagesFolder(hub) {
    var device = hub.Items("").Item(1);
    var top = hub.Items(device);
    if (has(top, "Packages"))
        return device + "\\Packages";
    for (var i = 1; i <= top.Count; i++) {
        var medium = device + "\\" + top.Item(i);
        if (has(hub.Items(medium), "Packages"))
            return medium + "\\Packages";
    }
    return device + "\\Packages";
}

function main(fileName) {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var folder = packagesFolder(new ActiveXObject("Tavrilon.ZelvanMgr"));
    var temp = fso.GetSpecialFolder(2).Path + "\\" + fso.GetTempName();
    CAPFile.Find("readme.txt", 2).SaveToFile(temp);
    var copier = CAPLinker.Copier;
    copier.AddFile("js-" + CAPLinker.GetVersion(fileName) + ".txt", temp);
    copier.ZelvanFolder = folder;
    var result = copier.Run();
    fso.DeleteFile(temp);
    return result;
}
