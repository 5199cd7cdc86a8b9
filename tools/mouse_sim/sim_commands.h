// The command language of velt-mouse-sim, one command a line, the same typed
// at its prompt or read from a script: plug, unplug, press, release, extra,
// send, reports, wait, models, help and quit (simCommandHelp() says what each
// takes). Mice are named by the number plug gave them. Numbers are decimal
// or 0x hexadecimal; report bytes are hexadecimal. A # starts a comment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/virtual_mouse/virtual_mice.h"

namespace velt {

struct SimCommand {
  enum class Verb { Models, Plug, Unplug, Press, Extra, Send, Reports, Wait, Help, Quit };
  Verb verb = Verb::Help;
  const VirtualMouse* model = nullptr;  // plug
  int mouse = 0;                        // the mouse's number; 0: all (unplug)
  uint8_t value = 0;                    // press: the mask; extra: the code
  size_t interfaceIndex = 0;            // send
  std::vector<uint8_t> bytes;           // send
  int milliseconds = 0;                 // wait
};

// The models plug accepts: every supported model, the ordinary mice of other
// makers, in the order models lists them.
std::vector<const VirtualMouse*> pluggableMice();
// The name plug takes for a mouse: its model name in lower case, blanks as
// dashes ("qr-350", "boot-mouse").
std::string commandName(const VirtualMouse& mouse);

// Parses one line. nullopt with error empty for a blank or comment line;
// nullopt with error set for a line that is not a command.
std::optional<SimCommand> parseSimCommand(std::string_view line, std::string& error);

// The text help prints.
const char* simCommandHelp();

}  // namespace velt
