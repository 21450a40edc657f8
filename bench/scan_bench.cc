// Throughput of the region scan by each path this processor runs (the plain
// word-by-word one, SSE2, AVX2, NEON) beside a plain memcpy of the same bytes
// (what the memory allows): over a 512 KiB buffer, the piece the 64-bit tools
// copy and then scan while it is still in the cache, and over a 256 MiB one,
// from memory. The buffers hold random bytes with a marker near each end, and
// come from the same VirtualAlloc the walk uses for its copies. The fastest
// path is also timed looking for the markers alone, without the kernel
// vector's first word that the 64-bit tools compare each block with too.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "locator/markers.h"
#include "locator/region_scan.h"
#include "platform/process_services.h"

namespace {

const std::size_t PieceSize = std::size_t{512} << 10;  // the 64-bit tools' piece
const std::size_t LargeSize = std::size_t{256} << 20;
const Address BufferBase = 0x10000000;
// A start marker just past the front, an end marker just before the last step.
const std::size_t StartMarkerOffset = 0x40;
std::size_t EndMarkerOffset(std::size_t size) { return size - MarkerLength - 0x40; }

// The source and destination buffers of each size: [0] the piece, [1] the large one.
unsigned char* Sources[2];
unsigned char* Destinations[2];

int SizeIndex(std::size_t size) { return size == PieceSize ? 0 : 1; }

unsigned char* AllocateBuffer(std::size_t size) {
  void* buffer =
      platform::VirtualAlloc(nullptr, static_cast<platform::SIZE_T>(size),
                             platform::MEM_COMMIT | platform::MEM_RESERVE, platform::PAGE_READWRITE);
  return static_cast<unsigned char*>(buffer);
}

// xorshift64: fast, and the same bytes on every run.
void FillWithRandomBytes(unsigned char* buffer, std::size_t size) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::size_t at = 0; at + 8 <= size; at += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(buffer + at, &state, 8);
  }
}

bool PrepareBuffers() {
  for (std::size_t size : {PieceSize, LargeSize}) {
    unsigned char* source = AllocateBuffer(size);
    unsigned char* destination = AllocateBuffer(size);
    if (source == nullptr || destination == nullptr) return false;
    FillWithRandomBytes(source, size);
    std::memset(destination, 0, size);  // faulted in before any timing
    std::memcpy(source + StartMarkerOffset, MarkerTable[0], MarkerLength);
    std::memcpy(source + EndMarkerOffset(size), MarkerTable[1], MarkerLength);
    Sources[SizeIndex(size)] = source;
    Destinations[SizeIndex(size)] = destination;
  }
  BuildMarkerWords();
  return true;
}

void CountBytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

void BM_Memcpy(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::memcpy(Destinations[SizeIndex(size)], Sources[SizeIndex(size)], size);
    benchmark::ClobberMemory();
  }
  CountBytes(state, size);
}

// The reference scan, or one path's; a scan that misses a marker is not worth
// timing. `markersOnly`: the block compare without the kernel vector's word.
void BM_Scan(benchmark::State& state, ScanPath path, bool reference, bool markersOnly) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const unsigned char* source = Sources[SizeIndex(size)];
  BuildMarkerWords();
  if (markersOnly) FirstWordCount = LastMarkerIndex + 1;
  for (auto _ : state) {
    ClearFoundSlots();
    if (reference) {
      ScanRegionBufferPlain(source, size, BufferBase);
    } else {
      ScanRegionBufferBy(path, source, size, BufferBase);
    }
    benchmark::ClobberMemory();
  }
  if (FoundSlots[0] != BufferBase + StartMarkerOffset ||
      FoundSlots[1] != BufferBase + EndMarkerOffset(size)) {
    state.SkipWithError("the scan did not find both markers exactly once");
  }
  BuildMarkerWords();
  CountBytes(state, size);
}

void AddSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(static_cast<std::int64_t>(PieceSize))
      ->Arg(static_cast<std::int64_t>(LargeSize))
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!PrepareBuffers()) {
    std::fprintf(stderr, "scan_bench: no memory for the buffers\n");
    return 1;
  }
  // Named BM_Scan/<path>/<bytes>; "plain" is the word-by-word reference scan.
  AddSizes(benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy));
  AddSizes(benchmark::RegisterBenchmark("BM_Scan/plain", BM_Scan, PlainScanPath, true, false));
  for (ScanPath path : {Sse2ScanPath, Avx2ScanPath, Avx512ScanPath, NeonScanPath}) {
    if (!ScanPathRuns(path)) continue;
    const std::string name = std::string("BM_Scan/") + ScanPathName(path);
    AddSizes(benchmark::RegisterBenchmark(name.c_str(), BM_Scan, path, false, false));
  }
  if (platform::FindsRamByKernelArea) {
    const std::string name = std::string("BM_Scan/") + ScanPathName(FastestScanPath()) + "-markers-only";
    AddSizes(benchmark::RegisterBenchmark(name.c_str(), BM_Scan, FastestScanPath(), false, true));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
