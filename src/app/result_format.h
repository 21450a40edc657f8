#pragma once

#include <cstdint>
#include <string>

// The result line for a RAM base: type 0 decimal; 1..4 upper-case hex digits,
// at least eight (an address above 4 GiB shows all of its digits), alone,
// after "0x", after "$" or before "h"; -1..-4 the same styles without leading
// zeros.
std::string FormatResult(std::uint64_t value, std::int32_t outputType);
