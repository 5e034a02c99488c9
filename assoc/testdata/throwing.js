// Adds a file, then fails before the copy: nothing may reach the device.
function main(fileName) {
    var copier = CAPLinker.Copier;
    copier.AddFile("never.txt", fileName);
    copier.ZelvanFolder = "Nowhere\\Packages";
    throw new Error("the install stops here");
}
