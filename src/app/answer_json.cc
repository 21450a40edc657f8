#include "app/answer_json.h"

#include <cstdio>

#include "app/result_format.h"
#include "platform/console.h"

namespace {

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

// The reason lines as one text, each without the tool's name before it.
std::string JoinedReasons(const Answer& answer) {
  const std::string prefix = platform::ToolName() + ": ";
  std::string joined;
  for (const std::string& line : answer.reasons) {
    if (!joined.empty()) joined += "; ";
    joined += line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line;
  }
  return joined;
}

}  // namespace

std::string AnswerJson(const Answer& answer, std::int32_t outputType) {
  std::string views;
  for (Address view : answer.views) views += (views.empty() ? "" : ",") + Number(view);
  const char* foundBy = answer.foundBy == FoundByKernelArea ? "\"kernel area\"" : "\"markers\"";
  return "{\"pid\":" + Number(answer.pid) + ",\"name\":" + JsonString(answer.name) +
         ",\"found\":" + (answer.found ? "true" : "false") + ",\"address\":" + Number(answer.address) +
         ",\"address_text\":" + JsonString(FormatResult(answer.address, outputType)) +
         ",\"found_by\":" + (answer.found ? foundBy : "null") + ",\"views\":[" + views +
         "],\"unreadable_regions\":" + std::to_string(answer.shortCopies) +
         ",\"reason\":" + (answer.found ? "null" : JsonString(JoinedReasons(answer))) + "}";
}
