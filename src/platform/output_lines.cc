#include "platform/output_lines.h"

#include "platform/console.h"

namespace {

const size_t OutputBufferSize = 128;
std::string Pending;

void WriteOut(const char* data, size_t size) {
  std::string failure;
  if (!platform::WriteStandardOutput(data, size, failure)) throw OutputFailure(failure);
}

}  // namespace

void WriteOutputLine(const std::string& text) {
  const std::string line = text + platform::LineEnd();
  if (platform::StandardOutputIsConsole()) {
    FlushOutput();
    WriteOut(line.data(), line.size());
    return;
  }
  for (char c : line) {
    Pending += c;
    if (Pending.size() == OutputBufferSize) FlushOutput();
  }
}

void FlushOutput() {
  if (Pending.empty()) return;
  std::string chunk;
  chunk.swap(Pending);
  WriteOut(chunk.data(), chunk.size());
}

void DiscardOutput() { Pending.clear(); }
