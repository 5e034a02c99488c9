// Drives the operating-system update as an update script does: the loader loads the image given
// as the first argument into the device in its loader mode and waits for the booted device. Each
// step prints one line; the exit code is 0 when the load succeeded.
var image = WScript.Arguments(0);
var loader = new ActiveXObject("Tavrilon.ZvUpdate15");
var ui = new ActiveXObject("Tavrilon.ZvUpdate15UI");
var callback = new ActiveXObject("Tavrilon.ZvUpdate15Callback");
var ZUS_COMPLETED = 3;

WScript.Echo("version " + ui.GetComponentVersion());
var cookie = loader.Advise(callback);
callback.OnUpdate(ZUS_COMPLETED, 0, "nothing");
loader.USBDeviceID = 0;
loader.Timeout = 30000;
loader.ShowUpdateWindow = 0;
loader.ZvID = "@UPD0001";
WScript.Echo("load " + loader.LoadZvOS(image, 0, 10000));
WScript.Echo("reboot " + loader.WaitForReboot(10000));
var result = loader.WaitForLoadZvOS(20000);
WScript.Echo("result " + result);
WScript.Echo("status " + loader.GetStatusCode());
loader.Unadvise(cookie);
WScript.Quit(loader.GetStatusCode() == 0 ? 0 : 1);
