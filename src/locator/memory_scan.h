// The walk over the emulator's address space: every committed region large
// enough to hold the emulated main RAM is copied whole and scanned for markers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "locator/markers.h"
#include "platform/process_services.h"

// Ends the guarded search without a message (no process, or it can't be opened).
enum SearchFailure { SearchFailed };

// Access asked of the target: query and read, never write.
const platform::DWORD TargetAccess = platform::PROCESS_QUERY_INFORMATION | platform::PROCESS_VM_READ;

// Opens the process and walks it; throws SearchFailed when it can't be opened,
// std::bad_alloc when a copy buffer can't be had.
void ScanEmulatorMemory(platform::DWORD pid);

void ScanAddressSpace(platform::HANDLE handle);

// Tries every searched marker at every 4-byte step of the copy and records the
// hits at `base` + offset.
void ScanRegionBuffer(const unsigned char* buffer, std::size_t size, Address base);
