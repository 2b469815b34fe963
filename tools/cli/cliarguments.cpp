#include "cliarguments.h"

#include "wholenumber.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace {

constexpr int kMinAddress = 1;
constexpr int kMaxAddress = 126;

struct CommandDesign {
  const char* name;
  CliRequest::Action action;
  const char* operands;  // as the usage line shows them
  std::size_t operandCount;
  bool json;  // whether --json is offered
  const char* help;
};

constexpr std::array<CommandDesign, 3> kCommands{{
    {"list", CliRequest::Action::List, "", 0, true,
     "print the machine's serial ports, one path a line,\nin the order the window lists them"},
    {"read", CliRequest::Action::Read, "PORT", 1, true,
     "query the device on PORT once and print its address and\n"
     "revision; exit 1 when no valid reply comes within 2 s"},
    {"set", CliRequest::Action::Set, "PORT N", 2, false,
     "give the device on PORT the address N (1 to 126), then\n"
     "query once a second until it reports N; exit 1, showing\n"
     "the last reading, when 5 s pass first"},
}};

const CommandDesign* FindCommand(std::string_view name) {
  for (const auto& command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

struct SplitArguments {
  std::vector<std::string> positional;
  bool json = false;
  bool help = false;
  std::string error;
};

SplitArguments Split(const std::vector<std::string>& args) {
  SplitArguments split;
  bool optionsEnded = false;
  for (const auto& arg : args) {
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      split.positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--json") {
      split.json = true;
    } else if (arg == "--help" || arg == "-h") {
      split.help = true;
    } else if (split.error.empty()) {
      split.error = "unknown option '" + arg + "'";
    }
  }
  return split;
}

CliParseResult Fail(std::string error) { return {{}, std::move(error)}; }

}  // namespace

CliParseResult ParseCliArguments(const std::vector<std::string>& args) {
  const SplitArguments split = Split(args);
  if (split.help) return {};
  if (!split.error.empty()) return Fail(split.error);
  if (split.positional.empty()) return Fail("no command given");

  const CommandDesign* command = FindCommand(split.positional.front());
  if (!command) return Fail("unknown command '" + split.positional.front() + "'");
  const std::vector<std::string> operands(split.positional.begin() + 1, split.positional.end());
  const std::string name = command->name;
  if (operands.size() > command->operandCount)
    return Fail(command->operandCount ? name + " takes only " + command->operands
                                      : name + " takes no arguments");
  if (operands.size() < command->operandCount) return Fail(name + " takes " + command->operands);
  if (split.json && !command->json) return Fail("--json does not go with " + name);

  CliParseResult result;
  result.request.action = command->action;
  result.request.json = split.json;
  if (!operands.empty()) {
    if (operands[0].empty()) return Fail("PORT must not be empty");
    result.request.port = operands[0];
  }
  if (command->action == CliRequest::Action::Set) {
    const auto address = WholeNumber(operands[1], kMinAddress, kMaxAddress);
    if (!address) return Fail("N is a whole number from 1 to 126, not '" + operands[1] + "'");
    result.request.address = *address;
  }
  return result;
}

std::string CliUsageLine() {
  std::string line = "usage: vortalin-cli";
  const char* separator = " ";
  for (const auto& command : kCommands) {
    line += separator;
    if (command.json) line += "[--json] ";
    line += command.name;
    if (command.operandCount) line += std::string(" ") + command.operands;
    separator = " | ";
  }
  return line + " | --help";
}

std::string CliHelp() {
  std::string text = CliUsageLine() + "\n\n"
                     "Reads and sets the station address of the field device on a serial line,\n"
                     "at 19200 baud, 8N1, without flow control, as the vortalin window does.\n\n";
  constexpr std::size_t kColumn = 12;
  for (const auto& command : kCommands) {
    std::string synopsis = std::string(command.name) + (command.operandCount ? " " : "") + command.operands;
    synopsis.resize(std::max(kColumn, synopsis.size() + 1), ' ');
    text += "  " + synopsis;
    for (const char* c = command.help; *c; ++c)
      text += *c == '\n' ? "\n  " + std::string(kColumn, ' ') : std::string(1, *c);
    text += "\n";
  }
  text +=
      "\n"
      "  --json      print list and read as JSON: [\"PORT\", ...] and\n"
      "              {\"port\": ..., \"address\": \"005\", \"revision\": \"01.00\"}\n"
      "  --help      show this text\n\n"
      "Exit codes: 0 done, 1 no (or not the wanted) reply or a serial line error, whose\n"
      "message is printed on stderr, 2 bad arguments.\n";
  return text;
}
