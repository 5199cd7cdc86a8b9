#include "ui/agent_commands.h"

#include <algorithm>
#include <charconv>

#include "core/function_catalogue.h"
#include "ui/slot_assignments.h"
#include "ui/slot_menus.h"

namespace velt {
namespace {

constexpr int kLastFunctionCode = 30;

// A whole decimal number, nothing before or after it.
std::optional<int> wholeNumber(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool offeredAnywhere(int code) {
  if (code < 1 || code > kLastFunctionCode) return false;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    if (isFunctionOffered(static_cast<uint8_t>(code), slot)) return true;
  }
  return false;
}

struct Verb {
  std::string_view word;
  AgentRequest::Kind kind;
  bool takesFunction;
};
constexpr Verb kVerbs[] = {
    {"show", AgentRequest::Kind::Show, false},
    {"reopen", AgentRequest::Kind::Show, false},
    {"quit", AgentRequest::Kind::Quit, false},
    {"reconfigure", AgentRequest::Kind::Reconfigure, false},
    {"status", AgentRequest::Kind::Status, false},
    {"run", AgentRequest::Kind::Run, true},
    {"press", AgentRequest::Kind::Press, true},
    {"release", AgentRequest::Kind::Release, true},
};

}  // namespace

std::optional<FunctionReference> parseFunctionReference(std::string_view text, std::string* error) {
  const size_t colon = text.find(':');
  const std::optional<int> code = wholeNumber(text.substr(0, colon));
  if (!code || !offeredAnywhere(*code)) {
    *error = "\"" + std::string(text) + "\" is not a function code";
    return std::nullopt;
  }
  FunctionReference function{static_cast<uint8_t>(*code), 0};
  if (colon == std::string_view::npos) {
    if (*code == kFunctionShortcut) {
      *error =
          "function 27 plays the shortcut recorded on a button: give the button as 27:N "
          "(N from 1 to 6)";
      return std::nullopt;
    }
    return function;
  }
  if (*code != kFunctionShortcut) {
    *error = "only function 27 takes a button number";
    return std::nullopt;
  }
  const std::optional<int> slot = wholeNumber(text.substr(colon + 1));
  if (!slot || *slot < 1 || *slot > kSlotCount) {
    *error = "\"" + std::string(text) + "\": the buttons are numbered 1 to 6";
    return std::nullopt;
  }
  function.slot = *slot;
  return function;
}

std::string functionReferenceText(const FunctionReference& function) {
  std::string text = std::to_string(function.code);
  if (function.slot) text += ":" + std::to_string(function.slot);
  return text;
}

std::string requestLine(const AgentRequest& request) {
  for (const Verb& verb : kVerbs) {
    if (verb.kind != request.kind || verb.word == "reopen") continue;
    std::string line(verb.word);
    if (verb.takesFunction) line += " " + functionReferenceText(request.function);
    return line;
  }
  return {};
}

std::optional<AgentRequest> parseRequestLine(std::string_view line, std::string* error) {
  const size_t space = line.find(' ');
  const std::string_view word = line.substr(0, space);
  const std::string_view argument =
      space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
  for (const Verb& verb : kVerbs) {
    if (verb.word != word) continue;
    if (!verb.takesFunction) {
      if (!argument.empty()) break;
      return AgentRequest{verb.kind, {}};
    }
    std::optional<FunctionReference> function = parseFunctionReference(argument, error);
    if (!function) return std::nullopt;
    return AgentRequest{verb.kind, *function};
  }
  *error = "unknown request \"" + std::string(line.substr(0, 40)) + "\"";
  return std::nullopt;
}

std::string commandLineHelp(std::string_view program) {
  std::string text = "Usage: " + std::string(program) + " [OPTION]\n" +
                     R"(Without an option, starts the mouse agent, or brings the running agent's
window to the front. An option acts on the agent that is running:

  --run CODE      does function CODE, as a button assigned to it would
  --press CODE    presses function CODE and holds it (pointer modes, the
                  pointer dot, a recorded shortcut)
  --release CODE  lets go of a function held with --press
  --show          opens the configuration window
  --quit          quits the agent; the mice get their buttons back
  --reconfigure   configures the mice again, as after the computer wakes
                  from sleep (for buttons that went back to their factory
                  functions)
  --status        prints the mice the agent has found, the application in
                  focus as the agent sees it (its window class and its
                  desktop entry id) and the profile in use
  --restore-mice  with no agent running, gives every supported mouse all its
                  buttons back (after an agent that ended abnormally)
  --version       prints the version
  --help          prints this text

Function codes:
)";
  for (const FunctionCatalogueEntry& entry : FunctionCatalogue()) {
    if (!offeredAnywhere(entry.code)) continue;
    std::string code = entry.code == kFunctionShortcut ? "27:N" : std::to_string(entry.code);
    std::string name(entry.names[static_cast<int>(Language::English)]);
    if (entry.code == kFunctionShortcut) name = "the shortcut recorded on button N (1 to 6)";
    text += "  " + code + std::string(6 - std::min<size_t>(code.size(), 5), ' ') + name + "\n";
  }
  text += R"(
Exit status: 0 done; 1 no agent is running, or it did not answer; 2 an
unknown option or code, a request the agent refused, or --restore-mice
while an agent runs. The agent itself ends with 0, or 3 when the display
connection was lost, or 4 when there was no display to connect to.
)";
  return text;
}

CommandButtons::CommandButtons(ButtonFunctionRunner& runner, Settings& settings)
    : runner_(runner), settings_(settings) {}

std::string CommandButtons::perform(const AgentRequest& request) {
  std::lock_guard lock(mutex_);
  auto held = std::find_if(held_.begin(), held_.end(),
                           [&](const Held& h) { return h.function == request.function; });
  const std::string name = "function " + functionReferenceText(request.function);
  std::string error;
  switch (request.kind) {
    case AgentRequest::Kind::Run:
    case AgentRequest::Kind::Press: {
      if (held != held_.end()) return name + " is held; release it first";
      std::optional<ButtonAssignmentValue> assignment = assignmentOf(request.function, &error);
      if (!assignment) return error;
      dispatch(*assignment, true);
      if (request.kind == AgentRequest::Kind::Run) {
        dispatch(*assignment, false);
      } else {
        held_.push_back({request.function, *assignment});
      }
      return {};
    }
    case AgentRequest::Kind::Release:
      if (held == held_.end()) return name + " is not held";
      // The release sends what the press sent, even if the button's
      // recording changed in between: no key is left down.
      dispatch(held->assignment, false);
      held_.erase(held);
      return {};
    case AgentRequest::Kind::Show:
    case AgentRequest::Kind::Quit:
    case AgentRequest::Kind::Reconfigure:
    case AgentRequest::Kind::Status:
      break;
  }
  return "not a button request";
}

void CommandButtons::releaseAll() {
  std::lock_guard lock(mutex_);
  while (!held_.empty()) {
    dispatch(held_.back().assignment, false);
    held_.pop_back();
  }
}

std::optional<ButtonAssignmentValue> CommandButtons::assignmentOf(const FunctionReference& function,
                                                                  std::string* error) {
  if (function.code != kFunctionShortcut) return ButtonAssignmentValue{function.code, 0, 0};
  if (function.slot < 1 || function.slot > kSlotCount) {
    *error = "function 27 needs a button number";
    return std::nullopt;
  }
  const ButtonAssignmentValue assignment = slotAssignment(settings_, function.slot - 1).load();
  if (assignment.code != kFunctionShortcut) {
    *error = "button " + std::to_string(function.slot) + " has no recorded shortcut";
    return std::nullopt;
  }
  return assignment;
}

void CommandButtons::dispatch(const ButtonAssignmentValue& assignment, bool pressed) {
  // Only the low 8 bits reach the dispatcher, as from a mouse.
  runner_.runButtonFunction(static_cast<uint8_t>(assignment.code), pressed ? 1 : 0,
                            static_cast<uint8_t>(assignment.op1),
                            static_cast<uint8_t>(assignment.op2));
}

}  // namespace velt
