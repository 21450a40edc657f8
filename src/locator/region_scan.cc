#include "locator/region_scan.h"

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#define MIRVANE_HAVE_SSE2_SCAN 1
#endif

namespace {

std::uint32_t WordAt(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Tries every searched marker at one offset, in marker order; a marker is left
// at its first unequal word.
void TryMarkersAt(const unsigned char* buffer, std::size_t offset, Address base) {
  const unsigned char* p = buffer + offset;
  for (int m = 0; m <= LastMarkerIndex; ++m) {
    if (WordAt(p) == MarkerWords[m][0] && WordAt(p + 4) == MarkerWords[m][1] &&
        WordAt(p + 8) == MarkerWords[m][2] && WordAt(p + 12) == MarkerWords[m][3]) {
      RecordHit(m, base + static_cast<Address>(offset));
    }
  }
}

// The offsets tried run from 0 while offset < size - 15.
std::size_t ScanLimit(std::size_t size) { return size < MarkerLength ? 0 : size - (MarkerLength - 1); }

#ifdef MIRVANE_HAVE_SSE2_SCAN
// A mask with one bit per 4-byte step whose first word equals the first word
// of some searched marker.
__attribute__((target("sse2"))) inline int CandidateSteps(const unsigned char* p, const __m128i* firstWords) {
  const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i equal = _mm_cmpeq_epi32(words, firstWords[0]);
  for (int m = 1; m <= LastMarkerIndex; ++m)
    equal = _mm_or_si128(equal, _mm_cmpeq_epi32(words, firstWords[m]));
  return _mm_movemask_ps(_mm_castsi128_ps(equal));
}

// Confirms the candidate steps from `offset` on, in increasing order, so the
// hits come in the plain scan's order.
void ConfirmCandidates(const unsigned char* buffer, std::size_t offset, int steps, Address base) {
  for (int step = 0; steps != 0; ++step, steps >>= 1) {
    if (steps & 1) TryMarkersAt(buffer, offset + 4 * static_cast<std::size_t>(step), base);
  }
}

// Eight, then four steps at a time: a step is worth a closer look only where
// its first word is the first word of some searched marker. A block at
// `offset` holds the first words of steps offset, offset + 4, ..., and every
// one of them must still be a step to try.
__attribute__((target("sse2"))) std::size_t ScanBlocksSse2(const unsigned char* buffer, std::size_t limit,
                                                           Address base) {
  __m128i firstWords[LastMarkerIndex + 1];
  for (int m = 0; m <= LastMarkerIndex; ++m)
    firstWords[m] = _mm_set1_epi32(static_cast<int>(MarkerWords[m][0]));
  std::size_t offset = 0;
  for (; offset + 28 < limit; offset += 32) {
    const int steps =
        CandidateSteps(buffer + offset, firstWords) | CandidateSteps(buffer + offset + 16, firstWords) << 4;
    if (steps != 0) ConfirmCandidates(buffer, offset, steps, base);
  }
  for (; offset + 12 < limit; offset += 16) {
    const int steps = CandidateSteps(buffer + offset, firstWords);
    if (steps != 0) ConfirmCandidates(buffer, offset, steps, base);
  }
  return offset;
}

bool ProcessorHasSse2() {
#if defined(__x86_64__)
  return true;
#else
  return __builtin_cpu_supports("sse2");
#endif
}
#endif

}  // namespace

void ScanRegionBufferPlain(const unsigned char* buffer, std::size_t size, Address base) {
  const std::size_t limit = ScanLimit(size);
  for (std::size_t offset = 0; offset < limit; offset += 4) TryMarkersAt(buffer, offset, base);
}

void ScanRegionBuffer(const unsigned char* buffer, std::size_t size, Address base) {
  const std::size_t limit = ScanLimit(size);
  std::size_t offset = 0;
#ifdef MIRVANE_HAVE_SSE2_SCAN
  if (ProcessorHasSse2()) offset = ScanBlocksSse2(buffer, limit, base);
#endif
  for (; offset < limit; offset += 4) TryMarkersAt(buffer, offset, base);
}
