// The console kernel's fixed structures as a running game leaves them in the
// first 64 KiB of the RAM, put into the fake target; a test that breaks the
// rule changes words of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process_services_fake.h"

struct KernelWord {
  platform::SIZE_T offset;  // from the RAM's base
  std::uint32_t value;
};

// The vector, the table of tables (four threads, sixteen events), and thread 0 current and in use.
inline std::vector<KernelWord> KernelAreaWords() {
  return {{0x80, 0x3C1A0000},   {0x84, 0x275A0C80},  {0x88, 0x03400008},  {0x8C, 0},
          {0x100, 0xA000E000},  {0x104, 0x20},       {0x108, 0xA000E020}, {0x10C, 4},
          {0x110, 0xA000E030},  {0x114, 0x300},      {0x120, 0xA000E330}, {0x124, 0x1C * 16},
          {0x140, 0xA000E600},  {0x144, 0x2C0},      {0x150, 0xA000E8C0}, {0xE020, 0xA000E030},
          {0xE030, 0x4000}};
}

inline void PutKernelArea(platform::ULONG_PTR ramBase, const std::vector<KernelWord>& changed = {}) {
  std::vector<KernelWord> words = KernelAreaWords();
  words.insert(words.end(), changed.begin(), changed.end());  // later puts go over earlier ones
  for (const KernelWord& word : words) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(word.value >> (8 * i) & 0xFF);
    fake::Put(ramBase + word.offset, bytes);
  }
}
