// What the command line asks of the running agent: show the window, quit,
// configure the mice again, or press and release a function as if a mouse button assigned to it had
// been pressed. Each request travels as one line of text over the agent's
// single-instance socket and gets one line back.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/button_function.h"
#include "core/settings.h"

namespace velt {

// A function named on the command line: a function code from the catalogue,
// and for the recorded shortcut (27) the slot (1 to 6) whose recording it
// plays.
struct FunctionReference {
  uint8_t code = 0;
  int slot = 0;
  bool operator==(const FunctionReference&) const = default;
};

// "13" or "27:4". nullopt for anything else, with the reason in *error:
// codes the catalogue does not offer in any slot, 27 without a slot, a slot
// on any other code.
std::optional<FunctionReference> parseFunctionReference(std::string_view text, std::string* error);
std::string functionReferenceText(const FunctionReference& function);

struct AgentRequest {
  enum class Kind { Show, Quit, Reconfigure, Status, Run, Press, Release };
  Kind kind = Kind::Show;
  FunctionReference function;  // Run, Press and Release
  bool operator==(const AgentRequest&) const = default;
};

// "show", "quit", "reconfigure", "status", "run 13", "press 27:4", "release 23". A second copy of
// the agent asks "reopen", which is read as "show".
std::string requestLine(const AgentRequest& request);
std::optional<AgentRequest> parseRequestLine(std::string_view line, std::string* error);

// The answers: "ok", or "refused" and the reason; to "status", "status" and
// a JSON object (see app/agent_status.h).
inline constexpr std::string_view kAnswerOk = "ok";
inline constexpr std::string_view kAnswerRefused = "refused ";
inline constexpr std::string_view kAnswerStatus = "status ";

// The command line's usage text, with the function codes and their English
// names.
std::string commandLineHelp(std::string_view program);

// The presses and releases that come from the command line. A function
// pressed here stays held until it is released here, or until releaseAll
// (the agent quitting lets go of it, as it does of a mouse's held buttons).
// Callable from any thread; the dispatcher runs on the calling thread.
class CommandButtons {
 public:
  CommandButtons(ButtonFunctionRunner& runner, Settings& settings);

  // Runs, presses or releases request's function. The empty text when it
  // was done; otherwise why not, and nothing was dispatched.
  std::string perform(const AgentRequest& request);
  // Releases whatever is still held, the last press first.
  void releaseAll();

 private:
  struct Held {
    FunctionReference function;
    ButtonAssignmentValue assignment;
  };
  // The assignment a press of function dispatches, or why there is none.
  std::optional<ButtonAssignmentValue> assignmentOf(const FunctionReference& function,
                                                    std::string* error);
  void dispatch(const ButtonAssignmentValue& assignment, bool pressed);

  ButtonFunctionRunner& runner_;
  Settings& settings_;
  std::mutex mutex_;  // one request at a time; guards held_
  std::vector<Held> held_;
};

}  // namespace velt
