// Loaded into KWin by VELT Mouse Assistant. KWin tells no program where the
// pointer is or which window has the focus; from inside KWin this script
// passes both on to the agent over the session bus: the focused window's
// class whenever it changes, and the pointer's position while the agent's
// overlay shows (the agent starts and stops that through two shortcuts
// without keys).
var service = "quorin.driver.velt";
var path = "/quorin/driver/velt/KWin";
var iface = "quorin.driver.velt.KWin";
var following = false;

function sendPointer() {
    var at = workspace.cursorPos;
    callDBus(service, path, iface, "Pointer", at.x, at.y);
}

function sendActive(client) {
    var cls = client ? String(client.resourceClass) : "";
    var file = client ? String(client.desktopFileName) : "";
    callDBus(service, path, iface, "ActiveWindow", cls, file);
}

// KWin 6 speaks of windows where KWin 5 spoke of clients.
function activeWindow() {
    return workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient;
}

workspace.cursorPosChanged.connect(function () {
    if (following) sendPointer();
});
(workspace.windowActivated || workspace.clientActivated).connect(sendActive);

registerShortcut("velt-follow-pointer", "VELT Mouse Assistant: overlay follows the pointer", "",
                 function () {
                     following = true;
                     sendPointer();
                 });
registerShortcut("velt-stop-following", "VELT Mouse Assistant: overlay hidden", "",
                 function () { following = false; });

sendActive(activeWindow());
