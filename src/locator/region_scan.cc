#include "locator/region_scan.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

#include "locator/kernel_area.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define MIRVANE_HAVE_X86_SCANS 1
#endif
#if defined(__aarch64__)
#include <arm_neon.h>
#define MIRVANE_HAVE_NEON_SCAN 1
#endif

namespace {

// The vector paths pass over the buffer a block at a time: 32 steps, whose
// first words all lie in the block.
const std::size_t BlockBytes = 128;

// Tries every searched marker at one offset, in marker order (a marker is
// left at its first unequal word), then the kernel's exception vector where
// the build looks for it. `size`: the copy's.
void TryMarkersAt(const unsigned char* buffer, std::size_t size, std::size_t offset, Address base) {
  const unsigned char* p = buffer + offset;
  const std::uint32_t first = WordAt(p);
  for (int m = 0; m <= LastMarkerIndex; ++m) {
    if (first == MarkerWords[m][0] && WordAt(p + 4) == MarkerWords[m][1] &&
        WordAt(p + 8) == MarkerWords[m][2] && WordAt(p + 12) == MarkerWords[m][3]) {
      RecordHit(m, base + static_cast<Address>(offset));
    }
  }
  if (platform::FindsRamByKernelArea && first == KernelVectorFirstWord)
    TryKernelVectorAt(p, size - offset, base + static_cast<Address>(offset));
}

// The offsets tried run from 0 while offset < size - 15.
std::size_t ScanLimit(std::size_t size) { return size < MarkerLength ? 0 : size - (MarkerLength - 1); }

// Each SkipBlocks* returns the offset, from `offset` on in whole blocks, of the
// first block where some step's first word is a searched marker's first word,
// or of the first block whose last step is not before `limit`. They call
// nothing, so no vector has to be kept on the stack across a call: on 64-bit
// Windows the compiler can't align the stack for a 32-byte one.
#ifdef MIRVANE_HAVE_X86_SCANS
__attribute__((target("sse2"))) std::size_t SkipBlocksSse2(const unsigned char* buffer, std::size_t offset,
                                                           std::size_t limit) {
  const int words = FirstWordCount;
  for (; offset + BlockBytes - 4 < limit; offset += BlockBytes) {
    const __m128i* block = reinterpret_cast<const __m128i*>(buffer + offset);
    __m128i equal = _mm_setzero_si128();
    // Four vectors at a time: a 32-bit build has only eight vector registers.
    for (int half = 0; half < 2; ++half, block += 4) {
      const __m128i d0 = _mm_loadu_si128(block), d1 = _mm_loadu_si128(block + 1);
      const __m128i d2 = _mm_loadu_si128(block + 2), d3 = _mm_loadu_si128(block + 3);
      for (int w = 0; w < words; ++w) {
        const __m128i word = _mm_set1_epi32(static_cast<int>(FirstWords[w]));
        equal = _mm_or_si128(
            equal, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(d0, word), _mm_cmpeq_epi32(d1, word)),
                                _mm_or_si128(_mm_cmpeq_epi32(d2, word), _mm_cmpeq_epi32(d3, word))));
      }
    }
    if (_mm_movemask_epi8(equal) != 0) break;
  }
  return offset;
}

__attribute__((target("avx2"))) std::size_t SkipBlocksAvx2(const unsigned char* buffer, std::size_t offset,
                                                           std::size_t limit) {
  const int words = FirstWordCount;
  for (; offset + BlockBytes - 4 < limit; offset += BlockBytes) {
    const __m256i* block = reinterpret_cast<const __m256i*>(buffer + offset);
    const __m256i d0 = _mm256_loadu_si256(block), d1 = _mm256_loadu_si256(block + 1);
    const __m256i d2 = _mm256_loadu_si256(block + 2), d3 = _mm256_loadu_si256(block + 3);
    __m256i equal = _mm256_setzero_si256();
    for (int w = 0; w < words; ++w) {
      const __m256i word = _mm256_set1_epi32(static_cast<int>(FirstWords[w]));
      equal = _mm256_or_si256(
          equal,
          _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi32(d0, word), _mm256_cmpeq_epi32(d1, word)),
                          _mm256_or_si256(_mm256_cmpeq_epi32(d2, word), _mm256_cmpeq_epi32(d3, word))));
    }
    if (!_mm256_testz_si256(equal, equal)) break;
  }
  return offset;
}

// A block is two 64-byte vectors, each compared into a mask register: a third
// of the instructions of the AVX2 path, so the scan keeps ahead of the copy
// of the next piece where memory is fast.
__attribute__((target("avx512f"))) std::size_t SkipBlocksAvx512(const unsigned char* buffer,
                                                                std::size_t offset, std::size_t limit) {
  const int words = FirstWordCount;
  for (; offset + BlockBytes - 4 < limit; offset += BlockBytes) {
    const __m512i d0 = _mm512_loadu_si512(buffer + offset);
    const __m512i d1 = _mm512_loadu_si512(buffer + offset + 64);
    __mmask16 equal = 0;
    for (int w = 0; w < words; ++w) {
      const __m512i word = _mm512_set1_epi32(static_cast<int>(FirstWords[w]));
      equal |= _mm512_cmpeq_epi32_mask(d0, word) | _mm512_cmpeq_epi32_mask(d1, word);
    }
    if (equal != 0) break;
  }
  return offset;
}
#endif

#ifdef MIRVANE_HAVE_NEON_SCAN
std::size_t SkipBlocksNeon(const unsigned char* buffer, std::size_t offset, std::size_t limit) {
  const int words = FirstWordCount;
  for (; offset + BlockBytes - 4 < limit; offset += BlockBytes) {
    const unsigned char* block = buffer + offset;
    uint32x4_t equal = vdupq_n_u32(0);
    for (int half = 0; half < 2; ++half, block += 64) {
      const uint32x4_t d0 = vreinterpretq_u32_u8(vld1q_u8(block)),
                       d1 = vreinterpretq_u32_u8(vld1q_u8(block + 16));
      const uint32x4_t d2 = vreinterpretq_u32_u8(vld1q_u8(block + 32)),
                       d3 = vreinterpretq_u32_u8(vld1q_u8(block + 48));
      for (int w = 0; w < words; ++w) {
        const uint32x4_t word = vdupq_n_u32(FirstWords[w]);
        equal = vorrq_u32(equal, vorrq_u32(vorrq_u32(vceqq_u32(d0, word), vceqq_u32(d1, word)),
                                           vorrq_u32(vceqq_u32(d2, word), vceqq_u32(d3, word))));
      }
    }
    if (vmaxvq_u32(equal) != 0) break;
  }
  return offset;
}
#endif

std::size_t SkipBlocks(ScanPath path, const unsigned char* buffer, std::size_t offset, std::size_t limit) {
  switch (path) {
#ifdef MIRVANE_HAVE_X86_SCANS
    case Sse2ScanPath: return SkipBlocksSse2(buffer, offset, limit);
    case Avx2ScanPath: return SkipBlocksAvx2(buffer, offset, limit);
    case Avx512ScanPath: return SkipBlocksAvx512(buffer, offset, limit);
#endif
#ifdef MIRVANE_HAVE_NEON_SCAN
    case NeonScanPath: return SkipBlocksNeon(buffer, offset, limit);
#endif
    default: return offset;  // the plain path passes over nothing
  }
}

}  // namespace

bool ScanPathBuilt(ScanPath path) {
#ifdef MIRVANE_HAVE_X86_SCANS
  if (path == Sse2ScanPath || path == Avx2ScanPath || path == Avx512ScanPath) return true;
#endif
#ifdef MIRVANE_HAVE_NEON_SCAN
  if (path == NeonScanPath) return true;
#endif
  return path == PlainScanPath;
}

bool ScanPathRuns(ScanPath path) {
  if (!ScanPathBuilt(path)) return false;
#ifdef MIRVANE_HAVE_X86_SCANS
  // The 32-bit Windows tool runs on processors without SSE2, and any x86
  // build on ones without AVX2. The check also asks whether the system saves
  // the AVX registers.
  __builtin_cpu_init();
  if (path == Sse2ScanPath) return __builtin_cpu_supports("sse2");
  if (path == Avx2ScanPath) return __builtin_cpu_supports("avx2");
  if (path == Avx512ScanPath) return __builtin_cpu_supports("avx512f");
#endif
  return true;  // NEON is part of every 64-bit ARM processor
}

ScanPath FastestScanPath() {
  for (ScanPath path : {Avx512ScanPath, Avx2ScanPath, NeonScanPath, Sse2ScanPath}) {
    if (ScanPathRuns(path)) return path;
  }
  return PlainScanPath;
}

const char* ScanPathName(ScanPath path) {
  switch (path) {
    case Sse2ScanPath: return "SSE2";
    case Avx2ScanPath: return "AVX2";
    case Avx512ScanPath: return "AVX-512";
    case NeonScanPath: return "NEON";
    default: return "plain";
  }
}

void ScanRegionBufferPlain(const unsigned char* buffer, std::size_t size, Address base) {
  const std::size_t limit = ScanLimit(size);
  for (std::size_t offset = 0; offset < limit; offset += 4) TryMarkersAt(buffer, size, offset, base);
}

// Blocks without a candidate step are passed over; the block where they stop,
// or the steps too few for a block at the end, are tried step by step, so the
// hits come in the plain scan's order.
void ScanRegionBufferBy(ScanPath path, const unsigned char* buffer, std::size_t size, Address base) {
  const std::size_t limit = ScanLimit(size);
  std::size_t offset = 0;
  while (offset < limit) {
    offset = SkipBlocks(path, buffer, offset, limit);
    const std::size_t end = std::min(offset + BlockBytes, limit);
    for (; offset < end; offset += 4) TryMarkersAt(buffer, size, offset, base);
  }
}

void ScanRegionBuffer(const unsigned char* buffer, std::size_t size, Address base) {
  // The processor does not change while we run: it is asked once, not for every piece.
  static const ScanPath Fastest = FastestScanPath();
  ScanRegionBufferBy(Fastest, buffer, size, base);
}
