// Throughput of the region scan over one 256 MiB copy buffer of random bytes
// with a marker near each end, beside a plain memcpy of the same buffer (what
// the memory allows) and the word-by-word reference scan. The buffers come
// from the same VirtualAlloc the walk uses for its copies.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "locator/markers.h"
#include "locator/region_scan.h"
#include "platform/process_services.h"

namespace {

const std::size_t BufferSize = std::size_t{256} << 20;
const Address BufferBase = 0x10000000;
// A start marker just past the front, an end marker just before the last step.
const std::size_t StartMarkerOffset = 0x40;
const std::size_t EndMarkerOffset = BufferSize - MarkerLength - 0x40;

unsigned char* Source = nullptr;
unsigned char* Destination = nullptr;

unsigned char* AllocateBuffer() {
  void* buffer =
      platform::VirtualAlloc(nullptr, static_cast<platform::SIZE_T>(BufferSize),
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
  Source = AllocateBuffer();
  Destination = AllocateBuffer();
  if (Source == nullptr || Destination == nullptr) return false;
  FillWithRandomBytes(Source, BufferSize);
  std::memset(Destination, 0, BufferSize);  // faulted in before any timing
  std::memcpy(Source + StartMarkerOffset, MarkerTable[0], MarkerLength);
  std::memcpy(Source + EndMarkerOffset, MarkerTable[1], MarkerLength);
  BuildMarkerWords();
  return true;
}

// A scan that misses a marker is not worth timing.
void CheckHitsAndCountBytes(benchmark::State& state) {
  if (FoundSlots[0] != BufferBase + StartMarkerOffset || FoundSlots[1] != BufferBase + EndMarkerOffset) {
    state.SkipWithError("the scan did not find both markers exactly once");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(BufferSize));
}

void BM_Memcpy(benchmark::State& state) {
  for (auto _ : state) {
    std::memcpy(Destination, Source, BufferSize);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(BufferSize));
}

void BM_ScanRegionBuffer(benchmark::State& state) {
  for (auto _ : state) {
    ClearFoundSlots();
    ScanRegionBuffer(Source, BufferSize, BufferBase);
    benchmark::ClobberMemory();
  }
  CheckHitsAndCountBytes(state);
}

void BM_ScanRegionBufferPlain(benchmark::State& state) {
  for (auto _ : state) {
    ClearFoundSlots();
    ScanRegionBufferPlain(Source, BufferSize, BufferBase);
    benchmark::ClobberMemory();
  }
  CheckHitsAndCountBytes(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanRegionBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanRegionBufferPlain)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!PrepareBuffers()) {
    std::fprintf(stderr, "scan_bench: no memory for two buffers of %zu bytes\n", BufferSize);
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
