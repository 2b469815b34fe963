#include "simoptions.h"

#include "simdevice.h"

#include "wholenumber.h"

#include <array>
#include <optional>
#include <string_view>

namespace {

using Apply = std::string (*)(SimOptions&, const std::string& value);

struct OptionDesign {
  const char* name;
  const char* valueName;  // nullptr for a flag
  const char* help;
  Apply apply;            // returns an error text, empty when the value was taken
};

std::string ApplyAddress(SimOptions& options, const std::string& value) {
  const auto address = WholeNumber(value, SimDevice::MinAddress, SimDevice::MaxAddress);
  if (!address) return "--address takes a whole number from 1 to 126, not '" + value + "'";
  options.address = *address;
  return {};
}

std::string ApplyRevision(SimOptions& options, const std::string& value) {
  bool printable = value.size() == SimDevice::RevisionLength;
  for (unsigned char c : value) printable = printable && c >= 0x20 && c < 0x7f;
  if (!printable) return "--revision takes five printable characters such as 01.00, not '" +
                         Printable(value) + "'";
  options.revision = value;
  return {};
}

std::string ApplyLink(SimOptions& options, const std::string& value) {
  if (value.empty()) return "--link takes a path, not an empty text";
  options.link = value;
  return {};
}

std::string ApplyDelay(SimOptions& options, const std::string& value) {
  const auto delay = WholeNumber(value, 0, MaxDelayMs);
  if (!delay) return "--delay takes milliseconds from 0 to 60000, not '" + value + "'";
  options.delayMs = *delay;
  return {};
}

constexpr std::array<OptionDesign, 8> kOptions{{
    {"--address", "N", "station address from 1 to 126 (5)", ApplyAddress},
    {"--revision", "TEXT", "revision, five characters (01.00)", ApplyRevision},
    {"--link", "PATH", "where to publish the port (/dev/ttyVRT0)", ApplyLink},
    {"--chunks", nullptr, "split each reply into random small writes",
     [](SimOptions& o, const std::string&) { o.chunks = true; return std::string(); }},
    {"--noise", nullptr, "send random bytes in front of each reply",
     [](SimOptions& o, const std::string&) { o.noise = true; return std::string(); }},
    {"--delay", "MS", "answer this many milliseconds late (0)", ApplyDelay},
    {"--mute", nullptr, "log commands but answer nothing",
     [](SimOptions& o, const std::string&) { o.mute = true; return std::string(); }},
    {"--help", nullptr, "show this text and exit",
     [](SimOptions& o, const std::string&) { o.help = true; return std::string(); }},
}};

const OptionDesign* FindOption(std::string_view name) {
  for (const auto& option : kOptions)
    if (name == option.name) return &option;
  return nullptr;
}

}  // namespace

SimOptionsResult ParseSimOptions(const std::vector<std::string>& args) {
  SimOptionsResult result;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionDesign* option = arg.rfind("--", 0) == 0 ? FindOption(name) : nullptr;
    if (!option) {
      result.error = "unknown argument '" + Printable(arg) + "' (see --help)";
      return result;
    }
    std::string value;
    if (!option->valueName && equals != std::string::npos) {
      result.error = name + " takes no value";
      return result;
    }
    if (option->valueName && equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (option->valueName) {
      if (i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0) {
        result.error = name + " needs a value " + option->valueName;
        return result;
      }
      value = args[++i];
    }
    result.error = option->apply(result.options, value);
    if (!result.error.empty()) return result;
  }
  return result;
}

std::string SimUsage() {
  std::string text =
      "usage: vortalin-sim [OPTION]...\n"
      "Plays the vortalin field device on a pseudo-terminal and publishes it as a port.\n"
      "Prints the port's path once ready; logs every command received on stderr.\n\n";
  for (const auto& option : kOptions) {
    std::string left = std::string("  ") + option.name;
    if (option.valueName) left += std::string(" ") + option.valueName;
    left.resize(20, ' ');
    text += left + option.help + "\n";
  }
  return text;
}
