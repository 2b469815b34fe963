// The command line of vortalin-cli: which command, on which port, with which address,
// and whether the answer is for a script (--json). Plain C++: bad input comes back as one
// line of text, and the program answers it with the usage line and exit code 2.
#pragma once

#include <string>
#include <vector>

struct CliRequest {
  enum class Action { Help, List, Read, Set };

  Action action = Action::Help;
  std::string port;
  int address = 0;  // for Set: 1 to 126
  bool json = false;
};

struct CliParseResult {
  CliRequest request;
  std::string error;  // empty when the arguments were good
};

// Options may stand before or after the command; "--" ends them, so a port whose name
// starts with "-" can still be given. "--help" wins over everything else.
CliParseResult ParseCliArguments(const std::vector<std::string>& args);

// One line: "usage: vortalin-cli ..."
std::string CliUsageLine();
// The --help text, built from the same table the parser reads.
std::string CliHelp();
