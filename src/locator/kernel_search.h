// After a walk in which no marker was seen: each place where the scan saw
// the kernel's vector is checked in the target by the whole rule
// (kernel_area.h), and the RAM is chosen among those that hold as among the
// views and copies of a RAM found by its markers.
#pragma once

#include "locator/markers.h"
#include "platform/process_services.h"

// Fills KernelAreaSearch. Does nothing where the build finds the RAM by its
// markers alone (platform/address_width.h).
void FindRamByKernelArea(platform::HANDLE handle);

// Whether the last walk found the RAM, and where: by its markers, or where no
// marker was seen, by the kernel area (`byKernelArea`).
bool EvaluateRamOfWalk(Address& ramBase, bool& byKernelArea);

// Whether the target holds a running game's kernel area in a RAM at `ramBase`.
bool KernelAreaAt(platform::HANDLE handle, Address ramBase);
