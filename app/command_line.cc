#include "app/command_line.h"

#include <QCommandLineParser>
#include <QStringList>

#include "app/agent_status.h"
#include "platform/process/single_instance.h"

namespace velt {
namespace {

// Generous: a request only queues the function, and a quit hands the mice
// their buttons back before the agent ends.
constexpr int kAnswerTimeoutMs = 5000;
constexpr int kQuitTimeoutMs = 30000;

constexpr const char* kProgram = "velt-mouse-assistant";

// Qt's own options, which the agent hands to Qt as before (a session
// manager restarts programs with -session, for one). They start the agent.
void addQtOptions(QCommandLineParser& parser) {
  for (const char* name :
       {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display", "name"}) {
    QCommandLineOption option(name, "", "value");
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : {"reverse", "widgetcount"}) {
    QCommandLineOption option(name);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption run("run", "", "CODE"), press("press", "", "CODE"),
      release("release", "", "CODE"), show("show"), quit("quit"), reconfigure("reconfigure"),
      status("status"), restoreMice("restore-mice"), help("help"), version("version");
  const QList<QCommandLineOption> ours{run,         press,  release,     show, quit,
                                       reconfigure, status, restoreMice, help, version};
  parser.addOptions(ours);
  addQtOptions(parser);
  QStringList list{kProgram};
  for (const std::string& argument : arguments) list << QString::fromLocal8Bit(argument.c_str());

  CommandLine line;
  auto badUse = [&line](std::string problem) {
    line.action = CommandLine::Action::BadUse;
    line.problem = std::move(problem);
    return line;
  };
  if (!parser.parse(list)) return badUse(parser.errorText().toStdString());
  if (!parser.positionalArguments().isEmpty()) {
    return badUse("unexpected argument \"" + parser.positionalArguments().first().toStdString() +
                  "\"");
  }
  int given = 0;
  for (const QString& name : parser.optionNames()) {
    for (const QCommandLineOption& option : ours) given += option.names().contains(name);
  }
  if (given == 0) return line;
  if (given > 1 || parser.optionNames().size() > 1) return badUse("give one option at a time");
  if (parser.isSet(help)) {
    line.action = CommandLine::Action::Help;
  } else if (parser.isSet(version)) {
    line.action = CommandLine::Action::Version;
  } else if (parser.isSet(restoreMice)) {
    line.action = CommandLine::Action::RestoreMice;
  } else if (parser.isSet(show) || parser.isSet(quit) || parser.isSet(reconfigure) ||
             parser.isSet(status)) {
    line.action = CommandLine::Action::Request;
    line.request.kind = parser.isSet(show)          ? AgentRequest::Kind::Show
                        : parser.isSet(quit)        ? AgentRequest::Kind::Quit
                        : parser.isSet(reconfigure) ? AgentRequest::Kind::Reconfigure
                                                    : AgentRequest::Kind::Status;
  } else {
    const auto& [option, kind] = parser.isSet(run) ? std::pair{run, AgentRequest::Kind::Run}
                                 : parser.isSet(press)
                                     ? std::pair{press, AgentRequest::Kind::Press}
                                     : std::pair{release, AgentRequest::Kind::Release};
    std::string problem;
    auto function = parseFunctionReference(parser.value(option).toStdString(), &problem);
    if (!function) return badUse(problem);
    line.action = CommandLine::Action::Request;
    line.request = {kind, *function};
  }
  return line;
}

int sendRequest(const std::filesystem::path& socket, const AgentRequest& request, std::ostream& out,
                std::ostream& err) {
  const bool quitting = request.kind == AgentRequest::Kind::Quit;
  const InstanceReply reply =
      askRunningCopy(socket, requestLine(request), kAnswerTimeoutMs, quitting ? kQuitTimeoutMs : 0);
  switch (reply.status) {
    case InstanceReply::Status::NoAgent:
      err << kProgram << ": no agent is running for this user";
      if (!reply.answer.empty()) err << " (" << socket.string() << ": " << reply.answer << ")";
      err << "\n";
      return kExitNoAgent;
    case InstanceReply::Status::NoAnswer:
      err << kProgram << ": the running agent did not answer: " << reply.answer << "\n";
      return kExitNoAgent;
    case InstanceReply::Status::Answered:
      break;
  }
  if (reply.answer == kAnswerOk) return kExitDone;
  if (request.kind == AgentRequest::Kind::Status && reply.answer.starts_with(kAnswerStatus)) {
    if (std::optional<std::string> text =
            statusText(std::string_view(reply.answer).substr(kAnswerStatus.size()))) {
      out << *text;
      return kExitDone;
    }
  }
  if (reply.answer.starts_with(kAnswerRefused)) {
    err << kProgram << ": " << reply.answer.substr(kAnswerRefused.size()) << "\n";
    return kExitBadUse;
  }
  err << kProgram << ": the running agent answered \"" << reply.answer << "\"\n";
  return kExitNoAgent;
}

}  // namespace velt
