// Replays the fuzzer's seed corpus (files, or folders of files, named on the
// command line) through the fuzzer's checks, without the fuzzer: a regression
// test for every build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "command_line_checks.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path named = argv[i];
    if (fs::is_directory(named)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(named)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else {
      inputs.push_back(named);
    }
  }
  // An empty or misnamed corpus must not pass for a clean one.
  if (inputs.empty()) {
    std::fprintf(stderr, "no corpus files given\n");
    return 2;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
      return 2;
    }
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::printf("%s\n", input.filename().string().c_str());
    std::fflush(stdout);  // a failing check aborts: the name must be out first
    CheckCommandLineInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu corpus files passed\n", inputs.size());
  return 0;
}
