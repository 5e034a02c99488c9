// Installs the package's readme into "Packages" on the first connected device, under a name
// that carries the package's version.
function main(fileName) {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var hub = new ActiveXObject("Tavrilon.ZelvanMgr");
    var folder = hub.Items("").Item(1) + "\\Packages";
    var temp = fso.GetSpecialFolder(2).Path + "\\" + fso.GetTempName();
    CAPFile.Find("readme.txt", 2).SaveToFile(temp);
    var copier = CAPLinker.Copier;
    copier.AddFile("js-" + CAPLinker.GetVersion(fileName) + ".txt", temp);
    copier.ZelvanFolder = folder;
    var result = copier.Run();
    fso.DeleteFile(temp);
    return result;
}
