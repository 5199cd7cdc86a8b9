// What the guest programs expect of the agent's traffic with the virtual
// mice: the handshakes and configuration reports of each device type, byte
// for byte, and the key events its button functions produce.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/guest_support.h"
#include "tools/mouse_sim/uhid_mouse.h"

namespace velt::e2e {

using Bytes = std::vector<uint8_t>;
// An EV_KEY code and value.
using KeyEvent = std::pair<int, int>;

// The reports the agent sends a mouse of this type in one configuration
// pass with masks m and h; sequence is the type-1 extra-button report's
// sequence byte (E0 to EF).
std::vector<ReceivedReport> configurationPass(int type, uint8_t m, uint8_t h, uint8_t sequence);
// Number of reports in one pass of this type; 0 for types that get none.
size_t configurationPassLength(int type);
bool configurable(const VirtualMouse& mouse);
// The reports each type's identification sends before configuration; and
// when the mouse is identified again (a type-6 mouse still holds the answer
// it was asked for at first, so it is only read then).
std::vector<ReceivedReport> handshakeOf(const VirtualMouse& mouse);
std::vector<ReceivedReport> handshakeAgainOf(const VirtualMouse& mouse);
// Checks that received is exactly handshake and then one restore pass (both
// masks 0).
bool checkRestored(Markers& markers, const std::string& what,
                   const std::vector<ReceivedReport>& received,
                   const std::vector<ReceivedReport>& handshake, int type);

// Checks that received is exactly handshake followed by at least one
// configuration pass with masks m and h (passes repeat as the agent
// re-configures). Type-1 sequence bytes are taken from the reports and
// checked for their form only.
bool checkConfiguration(Markers& markers, const std::string& what,
                        const std::vector<ReceivedReport>& received,
                        const std::vector<ReceivedReport>& handshake, int type, uint8_t m,
                        uint8_t h);

// "feature set 02 1C ...; feature set ..." for a list of reports.
std::string describe(const std::vector<ReceivedReport>& reports);

// The plugged mice by command name ("qr-350").
using Mice = std::map<std::string, std::unique_ptr<UhidMouse>>;
// Plugs each model under its command name into mice and waits for the hidraw
// nodes of all its interfaces; false, with a failure marker, when one does not
// appear.
bool plugMice(Markers& markers, const std::vector<const VirtualMouse*>& models, Mice& mice);
// Waits until no mouse has received anything for quiet.
void waitForQuiet(const Mice& mice, std::chrono::milliseconds quiet);
// Waits until every configurable mouse has received its handshake (as asked
// again, when again) and a configuration pass with masks m and h, and then
// until nothing more comes; checks each as "<what>: <model>".
bool expectConfigured(Markers& markers, const Mice& mice, const std::string& what, bool again,
                      uint8_t m, uint8_t h);

// The next count key events (EV_KEY, autorepeat ignored) within timeout.
std::vector<KeyEvent> readKeys(EventReader& reader, size_t count,
                               std::chrono::milliseconds timeout);
// Reads as many key events as expected holds and checks them in order.
bool expectKeys(Markers& markers, EventReader& reader, const std::string& what,
                const std::vector<KeyEvent>& expected,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));
std::string describe(const std::vector<KeyEvent>& keys);

}  // namespace velt::e2e
