// What must hold for any command line whatsoever, and for any result value:
// the fuzzer and the corpus replay both run every input through these checks.
#pragma once

#include <cstddef>
#include <cstdint>

// Treats `data` as a raw command line (and, cut at its zero bytes, as an
// argument vector), and its first bytes as a result value and an output type.
// Prints what broke and aborts when a check fails.
void CheckCommandLineInput(const std::uint8_t* data, std::size_t size);
