#pragma once

#include <cstdint>
#include <string>

// The result line for a RAM base: type 0 decimal; 1..4 eight upper-case hex
// digits, alone, after "0x", after "$" or before "h"; -1..-4 the same styles
// without leading zeros.
std::string FormatResult(std::uint32_t value, std::int32_t outputType);
