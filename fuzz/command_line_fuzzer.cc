// libFuzzer entry: every input is a command line and a result value.
#include <cstddef>
#include <cstdint>

#include "command_line_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckCommandLineInput(data, size);
  return 0;
}
