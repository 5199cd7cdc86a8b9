// Loaded into KWin by VELT Mouse Assistant. KWin tells no program where the
// pointer is or which window has the focus; from inside KWin this script
// passes both on to the agent over the session bus: the focused window's
// class whenever it changes, the windows a task bar would show whenever one
// opens or closes, and the pointer's position while the agent's overlay
// shows (the agent starts and stops that through two shortcuts without
// keys).
var service = "quorin.driver.velt";
var path = "/quorin/driver/velt/KWin";
var iface = "quorin.driver.velt.KWin";
var following = false;
// The agent answers each pointer report. One that has gone (ended without
// unloading this script, or crashed) answers none, and the reports stop:
// nothing else may hear where the pointer is under the agent's name.
var unanswered = 0;
var lastAnswer = 0;

function follow(on) {
    following = on;
    unanswered = 0;
    lastAnswer = Date.now();
}

function sendPointer() {
    if (unanswered > 100 && Date.now() - lastAnswer > 2000) {
        follow(false);
        return;
    }
    var at = workspace.cursorPos;
    ++unanswered;
    callDBus(service, path, iface, "Pointer", at.x, at.y, function () {
        unanswered = 0;
        lastAnswer = Date.now();
    });
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

// A line for each window but gone (closing, and maybe still listed): its
// class, a tab, its desktop file.
function sendWindows(gone) {
    var all = workspace.windowList ? workspace.windowList() : workspace.clientList();
    var lines = [];
    for (var i = 0; i < all.length; ++i) {
        var w = all[i];
        if (w !== gone && w.normalWindow && !w.skipTaskbar)
            lines.push(String(w.resourceClass) + "\t" + String(w.desktopFileName));
    }
    callDBus(service, path, iface, "Windows", lines.join("\n"));
}

workspace.cursorPosChanged.connect(function () {
    if (following) sendPointer();
});
(workspace.windowActivated || workspace.clientActivated).connect(sendActive);
(workspace.windowAdded || workspace.clientAdded).connect(function () { sendWindows(null); });
(workspace.windowRemoved || workspace.clientRemoved).connect(sendWindows);

registerShortcut("velt-follow-pointer", "VELT Mouse Assistant: overlay follows the pointer", "",
                 function () {
                     follow(true);
                     sendPointer();
                 });
registerShortcut("velt-stop-following", "VELT Mouse Assistant: overlay hidden", "",
                 function () { follow(false); });

sendActive(activeWindow());
sendWindows(null);
