// Guest program: every way the agent can end gives the mice their buttons
// back, in a real kernel, with a configurable mouse of each type plugged
// through /dev/uhid:
//   - SIGKILL, which nothing catches, then `--restore-mice` (which refuses
//     while an agent runs);
//   - SIGSEGV and SIGABRT, whose exit status must stay what it was;
//   - the X server under the agent killed (Xvfb), and the Wayland
//     compositor (sway, headless);
//   - the seat changing hands between the agents of two users, with a login
//     manager on a real system bus: the leaving agent gives the mice back
//     and closes them before the arriving one configures them, and a user
//     without an agent has working buttons.
// Each check compares the reports a mouse receives byte for byte. On the
// same X server, before it goes: per-application profiles following the
// focus as a window manager moves it.
#include <linux/input-event-codes.h>
#include <signal.h>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "tests/e2e/agent_process.h"
#include "tests/e2e/guest_mice.h"
#include "tools/mouse_sim/sim_commands.h"

namespace velt::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

// One configurable mouse of each type: 1, 2, 6 and 10.
const char* const kModels[] = {"QR-350", "QR-460", "QR-250", "QR-550"};
// The second user's choices: Copy on the wheel button, nothing else.
const std::map<std::string, int> kSecondUserSettings = {{"type2", 13}};
constexpr uint8_t kSecondUserMask = 0x04;
constexpr unsigned kFirstUser = 1001, kSecondUser = 1002;
const char* const kSystemBus = "unix:path=/run/dbus/system_bus_socket";

// Windows on an X server, each with an application's WM_CLASS, made active in
// turn as a window manager does: by setting _NET_ACTIVE_WINDOW on the root.
class XWindows {
 public:
  explicit XWindows(const char* display) : c_(xcb_connect(display, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const char* name = "_NET_ACTIVE_WINDOW";
    auto* reply =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::strlen(name), name), nullptr);
    if (reply) active_ = reply->atom;
    std::free(reply);
  }
  ~XWindows() { xcb_disconnect(c_); }
  bool ok() const { return !xcb_connection_has_error(c_) && active_ != XCB_ATOM_NONE; }
  void open(const std::string& application) {
    const xcb_window_t window = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string instanceAndClass = application + '\0' + application + '\0';
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        instanceAndClass.size(), instanceAndClass.data());
    xcb_map_window(c_, window);
    windows_[application] = window;
  }
  void activate(const std::string& application) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, active_, XCB_ATOM_WINDOW, 32, 1,
                        &windows_.at(application));
    xcb_flush(c_);
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_ = 0;
  xcb_atom_t active_ = XCB_ATOM_NONE;
  std::map<std::string, xcb_window_t> windows_;
};

const std::vector<KeyEvent> kPasteKeys = {
    {KEY_LEFTCTRL, 1}, {KEY_V, 1}, {KEY_V, 0}, {KEY_LEFTCTRL, 0}};
const std::vector<KeyEvent> kCutKeys = {
    {KEY_LEFTCTRL, 1}, {KEY_X, 1}, {KEY_X, 0}, {KEY_LEFTCTRL, 0}};

// The descriptors the process has open on hidraw nodes.
int openHidrawNodes(pid_t pid) {
  int count = 0;
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    count += fs::read_symlink(fd.path(), ec).string().starts_with("/dev/hidraw");
  }
  return count;
}

class WaysOut {
 public:
  int run() {
    if (!plugMice()) return 1;
    killedThenRestored();
    diedOf(SIGSEGV);
    diedOf(SIGABRT);
    onTheXServer();
    compositorKilled();
    seatChangesHands();
    return markers_.failures() == 0 ? 0 : 1;
  }

 private:
  bool plugMice() {
    std::vector<const VirtualMouse*> models;
    for (const char* model : kModels) models.push_back(&virtualMouse(model));
    if (!e2e::plugMice(markers_, models, mice_)) return false;
    // The nodes as the seat's user has them (the package's udev rule).
    std::system("chmod 666 /dev/hidraw* /dev/input/event* /dev/uinput");
    return true;
  }

  // Starts an agent and waits until every mouse has been identified and
  // configured with m and h; then forgets what the mice received.
  std::unique_ptr<AgentProcess> startConfigured(const AgentOptions& options,
                                                const std::string& what,
                                                uint8_t m = kGuestInterceptMask,
                                                uint8_t h = kGuestHidButtonMask) {
    for (auto& [name, mouse] : mice_) mouse->clearReceived();
    std::string error;
    auto agent = AgentProcess::start(options, &error);
    if (!markers_.check(agent != nullptr, what + ": agent started", error)) return nullptr;
    const bool all = expectConfigured(markers_, mice_, what + " configures", identified_, m, h);
    identified_ = true;
    for (auto& [name, mouse] : mice_) mouse->clearReceived();
    if (!all || !agent->running()) {
      AgentProcess::showLog();
      return nullptr;
    }
    return agent;
  }

  // Every mouse gets exactly one restore pass, after its handshake when it
  // was identified again.
  void expectRestored(const std::string& what, bool identifiedAgain) {
    for (auto& [name, mouse] : mice_) {
      const VirtualMouse& d = mouse->description();
      const auto handshake = identifiedAgain ? handshakeAgainOf(d) : std::vector<ReceivedReport>{};
      mouse->waitForReceived(0, handshake.size() + configurationPassLength(d.type), seconds(10));
      std::this_thread::sleep_for(milliseconds(300));
      checkRestored(markers_, what + ": " + name + " gets its buttons back", mouse->received(0),
                    handshake, d.type);
      mouse->clearReceived();
    }
  }

  void expectNothingSent(const std::string& what) {
    std::this_thread::sleep_for(seconds(1));
    for (auto& [name, mouse] : mice_) {
      markers_.check(mouse->received(0).empty(), what + ": " + name + " is sent nothing",
                     describe(mouse->received(0)));
    }
  }

  void killedThenRestored() {
    auto agent = startConfigured(withSettings(kGuestSettings), "SIGKILL");
    if (!agent) return;
    // Asked by the user's command line, the agent lists what it found.
    auto [listed, report] = runAgentCommand(0, {"--status"});
    size_t lines = 0;
    for (size_t at = report.find("mouse: "); at != std::string::npos;
         at = report.find("mouse: ", at + 1)) {
      ++lines;
    }
    markers_.check(listed == 0 && lines == mice_.size(), "--status lists every mouse", report);
    auto [refused, why] = runAgentCommand(0, {"--restore-mice"});
    markers_.check(refused == 2, "--restore-mice refuses while the agent runs",
                   std::to_string(refused) + ": " + why);
    expectNothingSent("--restore-mice while the agent runs");
    ::kill(agent->pid(), SIGKILL);
    agent->waitForExit(seconds(10));
    markers_.check(agent->ending() == "signal 9", "the agent died of SIGKILL", agent->ending());
    auto [status, said] = runAgentCommand(0, {"--restore-mice"});
    markers_.check(
        status == 0 && said.find("4 mice have all their buttons back") != std::string::npos,
        "--restore-mice restores the four mice", std::to_string(status) + ": " + said);
    expectRestored("after SIGKILL, --restore-mice", true);
  }

  void diedOf(int signal) {
    const std::string name = signal == SIGSEGV ? "SIGSEGV" : "SIGABRT";
    auto agent = startConfigured(withSettings(kGuestSettings), name);
    if (!agent) return;
    ::kill(agent->pid(), signal);
    agent->waitForExit(seconds(20));
    markers_.check(agent->ending() == "signal " + std::to_string(signal),
                   "the agent's exit status says it died of " + name, agent->ending());
    expectRestored(name, false);
  }

  static AgentOptions onXvfb(AgentOptions options) {
    options.platform = "xcb";
    options.environment = {{"DISPLAY", ":9"}};
    return options;
  }

  void onTheXServer() {
    fs::create_directories("/tmp/.X11-unix");
    ChildProcess x({"Xvfb", ":9", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    if (!markers_.check(waitFor([] { return fs::exists("/tmp/.X11-unix/X9"); }, seconds(30)),
                        "Xvfb runs in the guest")) {
      return;
    }
    profilesFollowFocus();
    displayGoes(onXvfb(withSettings(kGuestSettings)), x, "the X server");
  }

  // Two applications with profiles take the focus in turn. The editor pastes
  // with the wheel button, gives side button 3 Mute and keeps side button 4's
  // own event; the viewer cuts, and has the general table's shortcut and
  // Mute on the side buttons. Masks cover both, so no focus change sends the
  // mice anything, and a release ends what its press started.
  void profilesFollowFocus() {
    AgentOptions options = onXvfb(withSettings(kGuestSettings));
    options.profiles = {{"velt-editor", {{"type2", 15}, {"type3", 9}, {"type4", 0}}},
                        {"velt-viewer", {{"type2", 14}}}};
    auto agent = startConfigured(options, "profiles");
    if (!agent) return;
    XWindows x(":9");
    EventReader keyboard(agent->waitForDevice(kAgentKeyboard, seconds(10)).value_or(""));
    EventReader pointer(agent->waitForDevice(kAgentPointer, seconds(10)).value_or(""));
    if (!markers_.check(x.ok() && keyboard.ok() && pointer.ok(),
                        "an X client and the agent's uinput devices")) {
      return;
    }
    x.open("velt-editor");
    x.open("velt-viewer");
    auto focus = [&](const std::string& application) {
      x.activate(application);
      std::string said;
      markers_.check(waitFor(
                         [&] {
                           said = runAgentCommand(0, {"--status"}).second;
                           return said.find("\nprofile: " + application + "\n") != said.npos;
                         },
                         seconds(10)),
                     application + " has the focus, and its profile applies", said);
    };
    UhidMouse& mouse = *mice_.at("QR-350");
    auto click = [&](uint8_t buttons, const std::string& what, const std::vector<KeyEvent>& keys) {
      mouse.sendButtons(buttons);
      expectKeys(markers_, keyboard, what, keys);
      mouse.sendButtons(0);
    };
    focus("velt-editor");
    click(0x04, "the editor's wheel button pastes", kPasteKeys);
    focus("velt-viewer");
    click(0x04, "the viewer's wheel button cuts", kCutKeys);

    mouse.sendButtons(0x08);
    expectKeys(markers_, keyboard, "the viewer's side button 3 holds the shortcut", kShortcutDown);
    focus("velt-editor");
    mouse.sendButtons(0);
    expectKeys(markers_, keyboard, "released in the editor, the shortcut is let go", kShortcutUp);

    pointer.drain();
    mouse.sendButtons(0x10);
    auto down = pointer.frame(seconds(3));
    markers_.check(contains(down, EV_KEY, BTN_EXTRA, 1),
                   "the editor's Default on side button 4 presses the pointer's own button",
                   describe(down));
    focus("velt-viewer");
    mouse.sendButtons(0);
    auto up = pointer.frame(seconds(3));
    markers_.check(contains(up, EV_KEY, BTN_EXTRA, 0),
                   "released in the viewer, the pointer's button goes up", describe(up));
    auto keys = readKeys(keyboard, 1, milliseconds(300));
    markers_.check(keys.empty(), "no Mute from either side button", describe(keys));
    expectNothingSent("four changes of focus");
    agent->terminate(seconds(20));
    expectRestored("the agent with profiles ends", false);
  }

  // The agent on display, which then goes: it takes the way out a quit
  // takes, and ends with status 3.
  void displayGoes(const AgentOptions& options, ChildProcess& display, const std::string& what) {
    auto agent = startConfigured(options, what + " killed");
    if (!agent) return;
    display.kill(SIGKILL);
    const auto status = agent->waitForExit(seconds(20));
    markers_.check(status == 3, "the agent ends with status 3 when " + what + " goes",
                   agent->ending());
    expectRestored(what + " killed", false);
    const std::string run = AgentProcess::runtimeDirOf(options.user);
    markers_.check(!fs::exists(run + "/quorin.driver.velt.socket") &&
                       !fs::exists(run + "/quorin.driver.velt.lock"),
                   "the socket and the lock are gone after " + what);
  }

  // sway, headless, which refuses to run as root.
  void compositorKilled() {
    const std::string run = AgentProcess::runtimeDirOf(kFirstUser);
    fs::create_directories(run);
    std::system(("chown 1001 " + run + " && chmod 700 " + run).c_str());
    std::ofstream("/tmp/sway.conf") << "output HEADLESS-1 resolution 800x600\nxwayland disable\n";
    ChildProcess sway({"sway", "-c", "/tmp/sway.conf"}, kFirstUser,
                      {{"XDG_RUNTIME_DIR", run},
                       {"HOME", AgentProcess::homeOf(kFirstUser)},
                       {"WLR_BACKENDS", "headless"},
                       {"WLR_RENDERER", "pixman"}});
    if (!markers_.check(waitFor([&] { return fs::exists(run + "/wayland-1"); }, seconds(30)),
                        "sway runs in the guest")) {
      return;
    }
    AgentOptions options = withSettings(kGuestSettings);
    options.user = kFirstUser;
    options.platform = "wayland";
    options.environment = {{"WAYLAND_DISPLAY", "wayland-1"}};
    displayGoes(options, sway, "the compositor");
  }

  // The agents' virtual keyboards: their event nodes by input device, whose
  // numbers, unlike the nodes', are never used again.
  static std::map<std::string, std::string> keyboards() {
    std::map<std::string, std::string> found;
    std::error_code ec;
    for (const auto& node : eventNodesNamed(kAgentKeyboard)) {
      const auto device = fs::read_symlink(
          "/sys/class/input/" + fs::path(node).filename().string() + "/device", ec);
      found[device.filename().string()] = node;
    }
    return found;
  }
  // The node of a keyboard that was not there before.
  std::optional<std::string> newKeyboard(const std::map<std::string, std::string>& before) {
    std::optional<std::string> node;
    waitFor(
        [&] {
          for (const auto& [device, path] : keyboards()) {
            if (before.count(device) == 0) node = path;
          }
          return node.has_value();
        },
        seconds(20));
    return node;
  }

  void seatChangesHands() {
    std::ofstream("/tmp/system-bus.conf")
        << "<busconfig><type>system</type><listen>" << kSystemBus
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
           "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
           "</policy></busconfig>\n";
    fs::create_directories("/run/dbus");
    ChildProcess bus({"dbus-daemon", "--config-file=/tmp/system-bus.conf", "--nofork",
                      "--nopidfile", "--print-address=1"});
    if (!markers_.check(!bus.readLine().empty(), "a system bus runs in the guest")) return;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", kSystemBus, 1);
    ChildProcess logind({"velt-e2e-logind", "c1", "c2"}, 0, {}, true);
    if (!markers_.check(logind.readLine() == "ready", "the login manager runs")) return;

    auto as = [](unsigned user, const char* session, const std::map<std::string, int>& settings) {
      AgentOptions options = withSettings(settings);
      options.user = user;
      options.environment = {{"XDG_SESSION_ID", session}, {"DBUS_SYSTEM_BUS_ADDRESS", kSystemBus}};
      return options;
    };
    auto before = keyboards();
    auto first = startConfigured(as(kFirstUser, "c1", kGuestSettings), "user 1001");
    if (!first) return;
    auto keyboard = newKeyboard(before);
    markers_.check(keyboard.has_value(), "user 1001's agent has its keyboard");

    // To a user who runs no agent: the buttons come back, and nothing of
    // user 1001's agent stays open on the mice or types into the session.
    logind.write("activate c2");
    markers_.check(logind.readLine() == "activated c2", "the seat goes to user 1002");
    expectRestored("user 1001 leaves the seat", false);
    markers_.check(waitFor([&] { return openHidrawNodes(first->pid()) == 0; }, seconds(10)),
                   "user 1001's agent closes every hidraw node");
    markers_.check(keyboard && waitForGone(*keyboard, seconds(10)),
                   "user 1001's virtual keyboard is gone");
    auto [status, said] = runAgentCommand(kFirstUser, {"--run", "13"});
    markers_.check(status == 2 && said.find("another session has the seat") != std::string::npos,
                   "the command line's run is refused while away",
                   std::to_string(status) + ": " + said);
    expectNothingSent("while user 1001 is away");

    // User 1002's agent configures the mice with its own choices.
    auto second = startConfigured(as(kSecondUser, "c2", kSecondUserSettings), "user 1002",
                                  kSecondUserMask, 0);
    if (!second) return;

    // Back to user 1001: the leaving agent's pass lands first.
    before = keyboards();
    logind.write("activate c1");
    markers_.check(logind.readLine() == "activated c1", "the seat goes back to user 1001");
    for (auto& [name, mouse] : mice_) {
      const VirtualMouse& d = mouse->description();
      const size_t pass = configurationPassLength(d.type);
      const auto handshake = handshakeAgainOf(d);
      mouse->waitForReceived(0, 2 * pass + handshake.size(), seconds(30));
      std::this_thread::sleep_for(milliseconds(500));
      const auto received = mouse->received(0);
      const std::vector<ReceivedReport> leaving(received.begin(),
                                                received.begin() + std::min(pass, received.size()));
      const std::vector<ReceivedReport> arriving(received.begin() + leaving.size(), received.end());
      checkRestored(markers_, "user 1002's agent gives " + name + " back first", leaving, {},
                    d.type);
      checkConfiguration(markers_, "then user 1001's agent configures " + name, arriving, handshake,
                         d.type, kGuestInterceptMask, kGuestHidButtonMask);
    }
    keyboard = newKeyboard(before);
    if (markers_.check(keyboard.has_value(), "user 1001's keyboard is back")) {
      EventReader keys(*keyboard);
      mice_.at("QR-350")->sendButtons(0x04);
      expectKeys(markers_, keys, "user 1001's function for the wheel button", kCopyKeys);
      mice_.at("QR-350")->sendButtons(0);
    }
    second->terminate(seconds(20));
    first->terminate(seconds(20));
  }

  Markers markers_;
  Mice mice_;
  bool identified_ = false;  // by an agent before
};

}  // namespace
}  // namespace velt::e2e

int main() {
  const int status = velt::e2e::WaysOut().run();
  if (status != 0) velt::e2e::AgentProcess::showLog();
  return status;
}
