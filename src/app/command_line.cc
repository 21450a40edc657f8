#include "app/command_line.h"

#include "platform/address_width.h"

const char* const WrongUsageMessage = "Wrong usage. Try /? for help";

namespace {

// Codes 1..32 separate arguments; bytes of 0x80 and above never do.
bool IsSeparator(unsigned char c) { return c >= 1 && c <= 32; }

bool IsHelpSwitch(const std::string& a) {
  return a.find('?') != std::string::npos || a == "-h" || a == "/h" || a == "--help";
}

// An interval in decimal milliseconds within the limits; false otherwise.
bool ReadInterval(const std::string& text, std::uint32_t& interval) {
  if (text.empty() || text.size() > 7) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value < ShortestInterval || value > LongestInterval) return false;
  interval = value;
  return true;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& raw) {
  std::vector<std::string> items;
  size_t i = 0;
  const size_t n = raw.size();
  for (;;) {
    // Where an argument would begin: separators and empty quoted pairs go.
    for (;;) {
      while (i < n && IsSeparator(static_cast<unsigned char>(raw[i]))) ++i;
      if (i + 1 < n && raw[i] == '"' && raw[i + 1] == '"') {
        i += 2;
        continue;
      }
      break;
    }
    if (i >= n || raw[i] == '\0') break;
    std::string item;
    while (i < n && raw[i] != '\0' && !IsSeparator(static_cast<unsigned char>(raw[i]))) {
      if (raw[i] == '"') {
        ++i;
        while (i < n && raw[i] != '\0' && raw[i] != '"') item += raw[i++];
        if (i < n && raw[i] == '"') ++i;
      } else {
        item += raw[i++];
      }
    }
    // Only a quote left open at the very end can give nothing here.
    if (!item.empty()) items.push_back(item);
  }
  if (!items.empty()) items.erase(items.begin());
  return items;
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunSettings& settings) {
  bool intervalGiven = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a.empty()) continue;  // the splitter never gives one; callers might
    if (IsHelpSwitch(a)) return ParseHelp;
    if (platform::TakesWatchOptions && a.compare(0, 2, "--") == 0) {
      if (a == "--watch" || a == "--json") {
        (a == "--watch" ? settings.Watch : settings.Json) = true;
        continue;
      }
      if (a == "--interval" || a.compare(0, 11, "--interval=") == 0) {
        const bool joined = a.size() > 10;
        if (!joined && ++i == arguments.size()) return ParseWrongUsage;
        if (!ReadInterval(joined ? a.substr(11) : arguments[i], settings.IntervalMs)) return ParseWrongUsage;
        intervalGiven = true;
        continue;
      }
    }
    if (a[0] == '/') {
      // Only the first, second and last characters of a type switch count.
      const unsigned d = static_cast<unsigned char>(a.back()) - static_cast<unsigned>('0');
      if (d > 4) return ParseWrongUsage;
      const bool negative = a.size() > 1 && a[1] == '-';
      settings.OutputType = negative ? -static_cast<std::int32_t>(d) : static_cast<std::int32_t>(d);
      continue;
    }
    if (!settings.EmulatorName.empty()) return ParseWrongUsage;
    settings.EmulatorName = a;
  }
  return intervalGiven && !settings.Watch ? ParseWrongUsage : ParseRun;
}
