// The scan of one region's copy: every searched marker is tried at every
// 4-byte step from the region's base, the last step 16 bytes before its end,
// and every hit is recorded at `base` + offset.
#pragma once

#include <cstddef>

#include "locator/markers.h"

// The fastest scan this processor allows; same hits, same order as the plain one.
void ScanRegionBuffer(const unsigned char* buffer, std::size_t size, Address base);

// The plain word-by-word scan: the reference the fast one must equal.
void ScanRegionBufferPlain(const unsigned char* buffer, std::size_t size, Address base);
