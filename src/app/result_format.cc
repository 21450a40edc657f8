#include "app/result_format.h"

#include <cstdio>

std::string FormatResult(std::uint64_t value, std::int32_t outputType) {
  char digits[24];
  if (outputType == 0) {
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
    return digits;
  }
  std::snprintf(digits, sizeof digits, "%08llX", static_cast<unsigned long long>(value));
  std::string t = digits;
  if (outputType < 0) {
    const size_t firstKept = t.find_first_not_of('0');
    t.erase(0, firstKept == std::string::npos ? t.size() - 1 : firstKept);
  }
  // Parsing only sets -4..4; anything wider is treated by its magnitude's last style.
  const std::int64_t magnitude = outputType < 0 ? -static_cast<std::int64_t>(outputType) : outputType;
  switch (magnitude) {
    case 1: return t;
    case 2: return "0x" + t;
    case 3: return "$" + t;
    default: return t + "h";
  }
}
