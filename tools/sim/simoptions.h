// The simulated device's command line. Every option has a default that works, so the
// bare program plays a device at address 5 with revision 01.00 on /dev/ttyVRT0. Parsing
// is plain C++ and reports bad input as one line of text; the program exits with code 2.
#pragma once

#include <string>
#include <vector>

struct SimOptions {
  int address = 5;
  std::string revision = "01.00";
  std::string link = "/dev/ttyVRT0";
  bool chunks = false;  // each reply in random small writes
  bool noise = false;   // random bytes in front of each reply
  int delayMs = 0;      // how late each reply goes out
  bool mute = false;    // commands are logged but never answered
  bool help = false;
};

struct SimOptionsResult {
  SimOptions options;
  std::string error;  // empty when the arguments were good
};

inline constexpr int MaxDelayMs = 60000;

// Accepts "--name value" and "--name=value"; a later option overrides an earlier one.
SimOptionsResult ParseSimOptions(const std::vector<std::string>& args);

// The --help text, built from the same table the parser reads.
std::string SimUsage();
