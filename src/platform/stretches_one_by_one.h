// ReadProcessMemoryStretches where the system has no scattered read: one
// ReadProcessMemory a stretch (Windows, and the fake of the unit tests).
#pragma once

#include "platform/process_services.h"

namespace platform {

inline BOOL ReadStretchesOneByOne(HANDLE hProcess, const MEMORY_STRETCH* stretches, int count,
                                  SIZE_T* lpNumberOfBytesRead) {
  SIZE_T total = 0;
  BOOL whole = TRUE;
  for (int i = 0; i < count && whole; ++i) {
    SIZE_T copied = 0;
    whole = ReadProcessMemory(hProcess, stretches[i].base, stretches[i].buffer, stretches[i].size, &copied) &&
            copied == stretches[i].size;
    total += copied;
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = total;
  return whole;
}

}  // namespace platform
