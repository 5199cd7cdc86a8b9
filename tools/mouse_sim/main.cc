// velt-mouse-sim: virtual mice over /dev/uhid. They answer the agent's
// handshakes, record the configuration reports it sends and send button
// reports, as scripted or as typed at the prompt.
//
//   velt-mouse-sim [-e 'COMMAND; ...'] [-f SCRIPT] [MODEL...]
//
// Plugs each MODEL, runs the -e commands and the script, then reads commands
// from standard input unless -e or -f was given. Needs read and write access
// to /dev/uhid (the uhid module).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "tools/mouse_sim/sim_commands.h"
#include "tools/mouse_sim/uhid_mouse.h"

namespace velt {
namespace {

class SimSession {
 public:
  ~SimSession() { mice_.clear(); }

  // Runs one command; false with the reason printed when it failed.
  bool run(const SimCommand& command) {
    using V = SimCommand::Verb;
    switch (command.verb) {
      case V::Models:
        for (const VirtualMouse* m : pluggableMice()) {
          say("%-12s type %3d  %04X:%04X  %zu interface(s)", commandName(*m).c_str(), m->type,
              m->vendorId, m->productId, m->interfaces.size());
        }
        return true;
      case V::Plug:
        return plug(*command.model);
      case V::Unplug:
        if (command.mouse == 0) {
          mice_.clear();
          say("unplugged all");
          return true;
        }
        if (!find(command.mouse)) return false;
        mice_.erase(command.mouse);
        say("unplugged %d", command.mouse);
        return true;
      case V::Press:
        return withMouse(command.mouse, [&](Mouse& m) {
          m.held = command.value;
          return m.device->sendButtons(m.held);
        });
      case V::Extra:
        return withMouse(command.mouse,
                         [&](Mouse& m) { return m.device->sendButtons(m.held, command.value); });
      case V::Send:
        return withMouse(command.mouse, [&](Mouse& m) {
          if (command.interfaceIndex >= m.device->description().interfaces.size()) {
            say("mouse %d has no interface %zu", command.mouse, command.interfaceIndex);
            return false;
          }
          return m.device->sendInput(command.interfaceIndex, command.bytes);
        });
      case V::Reports:
        return withMouse(command.mouse, [&](Mouse& m) {
          const auto& interfaces = m.device->description().interfaces;
          for (size_t i = 0; i < interfaces.size(); ++i) {
            for (const auto& r : m.device->received(i)) {
              say("%d %s: %s", command.mouse, interfaces[i].label.c_str(), describe(r).c_str());
            }
          }
          return true;
        });
      case V::Wait:
        std::this_thread::sleep_for(std::chrono::milliseconds(command.milliseconds));
        return true;
      case V::Help: {
        std::lock_guard lock(outputMutex_);
        std::fputs(simCommandHelp(), stdout);
        std::fflush(stdout);
        return true;
      }
      case V::Quit:
        break;
    }
    return true;
  }

  template <typename... Args>
  void say(const char* format, Args... args) {
    std::lock_guard lock(outputMutex_);
    if constexpr (sizeof...(Args) == 0) {
      std::fputs(format, stdout);
    } else {
      std::printf(format, args...);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

 private:
  struct Mouse {
    std::unique_ptr<UhidMouse> device;
    uint8_t held = 0;
  };

  bool plug(const VirtualMouse& model) {
    const int number = nextNumber_++;
    std::string error;
    auto observer = [this, number, label = &model](size_t i, const ReceivedReport& report) {
      say("%d %s: %s", number, label->interfaces[i].label.c_str(), describe(report).c_str());
    };
    auto device = UhidMouse::plug(model, std::to_string(::getpid()) + "-" + std::to_string(number),
                                  observer, &error);
    if (!device) {
      say("cannot plug %s: %s", model.model.c_str(), error.c_str());
      return false;
    }
    std::string nodes;
    for (size_t i = 0; i < model.interfaces.size(); ++i) {
      if (auto n = device->nodes(i, 0, std::chrono::seconds(2))) nodes += " " + n->hidraw;
    }
    say("plugged %d: %s (%04X:%04X)%s", number, model.model.c_str(), model.vendorId,
        model.productId, nodes.c_str());
    mice_[number] = Mouse{std::move(device), 0};
    return true;
  }

  Mouse* find(int number) {
    auto it = mice_.find(number);
    if (it != mice_.end()) return &it->second;
    say("no mouse %d is plugged", number);
    return nullptr;
  }

  template <typename Action>
  bool withMouse(int number, Action action) {
    Mouse* m = find(number);
    if (!m) return false;
    if (!action(*m)) {
      say("mouse %d: the kernel refused the report", number);
      return false;
    }
    return true;
  }

  std::mutex outputMutex_;
  std::map<int, Mouse> mice_;
  int nextNumber_ = 1;
};

// Runs the lines; in a script the first bad line ends the run.
bool runLines(SimSession& session, std::istream& in, bool prompt, bool stopOnError) {
  std::string line;
  for (;;) {
    if (prompt) {
      std::fputs("> ", stdout);
      std::fflush(stdout);
    }
    if (!std::getline(in, line)) return true;
    std::string error;
    auto command = parseSimCommand(line, error);
    if (!command) {
      if (error.empty()) continue;
      session.say("%s", error.c_str());
      if (stopOnError) return false;
      continue;
    }
    if (command->verb == SimCommand::Verb::Quit) return true;
    if (!session.run(*command) && stopOnError) return false;
  }
}

int usage() {
  std::fprintf(stderr, "usage: velt-mouse-sim [-e 'COMMAND; ...'] [-f SCRIPT] [MODEL...]\n%s",
               simCommandHelp());
  return 2;
}

}  // namespace
}  // namespace velt

int main(int argc, char** argv) {
  using namespace velt;
  std::string commands;
  std::string script;
  std::vector<std::string> models;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "-e" || arg == "-f") && i + 1 < argc) {
      (arg == "-e" ? commands : script) = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      usage();
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return usage();
    } else {
      models.push_back(arg);
    }
  }

  SimSession session;
  for (const auto& model : models) {
    std::istringstream line("plug " + model);
    if (!runLines(session, line, false, true)) return 1;
  }
  if (!commands.empty()) {
    for (char& c : commands) {
      if (c == ';') c = '\n';
    }
    std::istringstream lines(commands);
    if (!runLines(session, lines, false, true)) return 1;
  }
  if (!script.empty()) {
    std::ifstream file(script);
    if (!file) {
      std::fprintf(stderr, "velt-mouse-sim: cannot read %s\n", script.c_str());
      return 1;
    }
    if (!runLines(session, file, false, true)) return 1;
  }
  if (commands.empty() && script.empty()) {
    runLines(session, std::cin, ::isatty(STDIN_FILENO) == 1, false);
  }
  return 0;
}
