// The scan of one region's copy: every searched marker is tried at every
// 4-byte step from the region's base, the last step 16 bytes before its end,
// and every hit is recorded at `base` + offset.
#pragma once

#include <cstddef>

#include "locator/markers.h"

// How the scan passes over blocks that hold no candidate step: word by word
// (the plain scan), or comparing whole blocks with the processor's vectors.
enum ScanPath { PlainScanPath, Sse2ScanPath, Avx2ScanPath, Avx512ScanPath, NeonScanPath, ScanPathCount };

// Whether this build has the path, and whether this processor can run it.
bool ScanPathBuilt(ScanPath path);
bool ScanPathRuns(ScanPath path);
// The fastest path this processor runs, and its name ("plain", "SSE2", "AVX-512", ...).
ScanPath FastestScanPath();
const char* ScanPathName(ScanPath path);

// The scan by the fastest path: same hits, same order as the plain one.
void ScanRegionBuffer(const unsigned char* buffer, std::size_t size, Address base);

// The scan by one path, which must run here (the tests and the benchmark choose).
void ScanRegionBufferBy(ScanPath path, const unsigned char* buffer, std::size_t size, Address base);

// The plain word-by-word scan: the reference the fast one must equal.
void ScanRegionBufferPlain(const unsigned char* buffer, std::size_t size, Address base);
