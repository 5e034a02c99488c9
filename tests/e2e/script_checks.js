// Checks shared by the script clients of the hub, loaded by them with eval: every failed check is
// echoed and counted, and the count becomes the script's exit code.
var failures = 0;
function check(ok, what) {
    if (!ok) {
        failures++;
        WScript.Echo("FAILED: " + what);
    }
}
// The names of a ZelvanItems collection, sorted and joined with ",".
function names(items) {
    var list = [];
    for (var i = 1; i <= items.Count; i++)
        list.push(items.Item(i));
    return list.sort().join(",");
}
// Whether the step raises an error.
function fails(step) {
    try {
        step();
        return false;
    } catch (e) {
        return true;
    }
}
// Runs the client's steps and ends the script with the number of failures. An error that escapes
// the steps counts as a failure: the script host would otherwise end quietly with 0.
function runChecks(steps) {
    try {
        steps();
    } catch (e) {
        check(false, "stopped by an error: " + e.description + " (" + (e.number >>> 0).toString(16) + ")");
    }
    WScript.Quit(failures);
}
