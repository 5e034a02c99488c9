// A subscription update for the tests: records what main() was given, and whether the hub was
// still marked busy while it ran, in a file beside the package.
function main(path, id) {
    var hub = new ActiveXObject("Tavrilon.ZelvanMgr");
    var files = new ActiveXObject("Scripting.FileSystemObject");
    var out = files.CreateTextFile(path + ".ran", true);
    out.Write(path + "|" + id + "|" + (hub.BusyUI ? "busy" : "idle"));
    out.Close();
    return true;
}
