// The agent's command line. Without an option the program is the agent;
// with one it prints its help or version, or sends one request to the agent
// that runs for this user and reports the answer. None of that needs a
// display, starts an agent or takes its lock.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ui/agent_commands.h"

namespace velt {

struct CommandLine {
  enum class Action { StartAgent, Help, Version, Request, RestoreMice, BadUse };
  Action action = Action::StartAgent;
  AgentRequest request;  // Request
  std::string problem;   // BadUse: what is wrong
};

// arguments: without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// Exit statuses of the command line.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAgent = 1;
inline constexpr int kExitBadUse = 2;
// And of the agent itself, besides 0: the display connection was lost while
// it ran (a supervisor may start it again), or there was no display to
// connect to (it may not).
inline constexpr int kExitDisplayLost = 3;
inline constexpr int kExitNoDisplay = 4;

// Sends request to the agent listening at socket and waits for its answer
// (for a quit, until the agent has ended). What it reports (--status) goes
// to out, problems to err. The exit status: done, no agent (or no answer),
// or bad use (the agent refused).
int sendRequest(const std::filesystem::path& socket, const AgentRequest& request, std::ostream& out,
                std::ostream& err);

}  // namespace velt
