// Cross-process latency of the hub's automation face: 1000 reads of a cheap property of the
// hub in the running program, timed by this script under cscript.
var hub = new ActiveXObject("Tavrilon.ZelvanMgr");
var calls = 1000;
var value = hub.Timeout;
var begin = new Date().getTime();
for (var i = 0; i < calls; i++)
    value = hub.Timeout;
var total = new Date().getTime() - begin;
WScript.Echo("JScript client, Timeout x" + calls + ": " + total + " ms, " + (total / calls).toFixed(3) +
             " ms per call (Timeout " + value + ")");
