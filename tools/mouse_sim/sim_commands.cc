#include "tools/mouse_sim/sim_commands.h"

#include <cctype>
#include <charconv>
#include <map>

namespace velt {
namespace {

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A decimal or 0x-prefixed hexadecimal number in [0, max].
std::optional<long> number(std::string_view text, long max, int base = 10) {
  if (base == 10 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > max) {
    return std::nullopt;
  }
  return value;
}

struct VerbInfo {
  SimCommand::Verb verb;
  size_t minArgs;
  size_t maxArgs;
  const char* usage;
};

const std::map<std::string_view, VerbInfo>& verbs() {
  using V = SimCommand::Verb;
  static const std::map<std::string_view, VerbInfo> table = {
      {"models", {V::Models, 0, 0, "models"}},
      {"plug", {V::Plug, 1, 1, "plug MODEL"}},
      {"unplug", {V::Unplug, 1, 1, "unplug N|all"}},
      {"press", {V::Press, 2, 2, "press N MASK"}},
      {"release", {V::Press, 1, 1, "release N"}},
      {"extra", {V::Extra, 2, 2, "extra N CODE"}},
      {"send", {V::Send, 3, 3 + 64, "send N INTERFACE BYTE..."}},
      {"reports", {V::Reports, 1, 1, "reports N"}},
      {"wait", {V::Wait, 1, 1, "wait MS"}},
      {"help", {V::Help, 0, 0, "help"}},
      {"quit", {V::Quit, 0, 0, "quit"}},
  };
  return table;
}

}  // namespace

std::vector<const VirtualMouse*> pluggableMice() {
  std::vector<const VirtualMouse*> mice;
  for (const VirtualMouse& m : virtualMice()) mice.push_back(&m);
  mice.push_back(&bootMouse());
  return mice;
}

std::string commandName(const VirtualMouse& mouse) {
  std::string name = lower(mouse.model);
  for (char& c : name) {
    if (c == ' ') c = '-';
  }
  return name;
}

std::optional<SimCommand> parseSimCommand(std::string_view line, std::string& error) {
  error.clear();
  if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
  const auto args = words(line);
  if (args.empty()) return std::nullopt;
  const std::string verb = lower(args[0]);
  auto found = verbs().find(verb);
  if (found == verbs().end()) {
    error = "unknown command \"" + std::string(args[0]) + "\" (help lists them)";
    return std::nullopt;
  }
  const VerbInfo& info = found->second;
  if (args.size() - 1 < info.minArgs || args.size() - 1 > info.maxArgs) {
    error = std::string("usage: ") + info.usage;
    return std::nullopt;
  }
  auto bad = [&](std::string_view what, std::string_view text) {
    error = std::string(what) + " \"" + std::string(text) + "\" in: " + info.usage;
    return std::nullopt;
  };

  SimCommand command;
  command.verb = info.verb;
  switch (info.verb) {
    case SimCommand::Verb::Plug: {
      const std::string wanted = lower(args[1]);
      for (const VirtualMouse* m : pluggableMice()) {
        if (commandName(*m) == wanted) command.model = m;
      }
      if (!command.model) return bad("no model", args[1]);
      return command;
    }
    case SimCommand::Verb::Wait: {
      auto ms = number(args[1], 3600 * 1000);
      if (!ms) return bad("bad time", args[1]);
      command.milliseconds = static_cast<int>(*ms);
      return command;
    }
    case SimCommand::Verb::Models:
    case SimCommand::Verb::Help:
    case SimCommand::Verb::Quit:
      return command;
    default:
      break;
  }

  // The rest name a mouse by its number.
  if (info.verb == SimCommand::Verb::Unplug && lower(args[1]) == "all") {
    command.mouse = 0;
  } else {
    auto n = number(args[1], 1 << 20);
    if (!n || *n == 0) return bad("bad mouse number", args[1]);
    command.mouse = static_cast<int>(*n);
  }
  if (info.verb == SimCommand::Verb::Press || info.verb == SimCommand::Verb::Extra) {
    if (args.size() > 2) {
      auto v = number(args[2], 0xFF);
      if (!v) return bad("bad byte", args[2]);
      command.value = static_cast<uint8_t>(*v);
    }
  }
  if (info.verb == SimCommand::Verb::Send) {
    auto index = number(args[2], 15);
    if (!index) return bad("bad interface", args[2]);
    command.interfaceIndex = static_cast<size_t>(*index);
    for (size_t i = 3; i < args.size(); ++i) {
      auto text = args[i];
      if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
      }
      auto b = number(text, 0xFF, 16);
      if (!b) return bad("bad byte", args[i]);
      command.bytes.push_back(static_cast<uint8_t>(*b));
    }
  }
  return command;
}

const char* simCommandHelp() {
  return "models                    the mice that can be plugged\n"
         "plug MODEL                plugs a mouse; it gets the next number N\n"
         "unplug N | all\n"
         "press N MASK              the standard buttons held from now on\n"
         "                          (bit 0 primary, 1 secondary, 2 wheel, 3 and 4 side)\n"
         "release N                 press N 0\n"
         "extra N CODE              an extra-button code (FE/FD, FA, FC) with the held mask\n"
         "send N INTERFACE BYTE...  a raw input report (hexadecimal bytes) on one interface\n"
         "reports N                 what the mouse has received, oldest first\n"
         "wait MS                   pauses\n"
         "help, quit\n";
}

}  // namespace velt
