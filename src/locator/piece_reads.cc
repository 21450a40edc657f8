#include "locator/piece_reads.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

using namespace platform;

namespace {

// The one read handed to the reading thread, and what became of it.
struct PieceRead {
  HANDLE handle;
  ULONG_PTR base;
  void* into;
  SIZE_T size;
  SIZE_T copied;
  bool pending;  // handed over, not yet done
  bool stop;     // the thread is to end
};

std::mutex ReadLock;
std::condition_variable ReadChanged;  // a read handed over, done, or the thread asked to stop
PieceRead Read;
std::thread Reader;
bool ReaderRunning = false;

// Waking a sleeping thread costs, on a virtual machine, as much as a fifth of
// a piece's copy, once per piece and side: each side first watches these
// counts for a moment (a piece is copied in well under a millisecond), and
// sleeps on ReadChanged only where that was not enough.
std::atomic<unsigned> ReadsHanded{0};
std::atomic<unsigned> ReadsDone{0};
const int WatchesBeforeSleep = 1 << 20;

SIZE_T ReadNow(HANDLE handle, ULONG_PTR base, void* into, SIZE_T size) {
  // Reset for every read, so a read that fails without a count never passes for a full one.
  SIZE_T copied = 0;
  ReadProcessMemory(handle, base, into, size, &copied);
  return copied;
}

// Watches for a moment until the reads handed over and done differ (`done`
// false: a read is handed over) or agree (true: it is done).
void WatchReads(bool done) {
  for (int i = 0; i < WatchesBeforeSleep && (ReadsHanded.load() == ReadsDone.load()) != done; ++i) {
  }
}

// The reading thread: takes each read handed over, does it, and says so.
void ReadPieces() {
  std::unique_lock<std::mutex> lock(ReadLock);
  for (;;) {
    lock.unlock();
    WatchReads(false);
    lock.lock();
    while (!Read.pending && !Read.stop) ReadChanged.wait(lock);
    if (Read.stop) return;
    const PieceRead read = Read;
    lock.unlock();
    const SIZE_T copied = ReadNow(read.handle, read.base, read.into, read.size);
    lock.lock();
    Read.copied = copied;
    Read.pending = false;
    ++ReadsDone;
    ReadChanged.notify_all();
  }
}

}  // namespace

void StartPieceReads() {
  if (ReaderRunning || ReadPieceSize == 0) return;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  if (info.dwNumberOfProcessors < 2) return;
  Read = PieceRead();
  try {
    Reader = std::thread(ReadPieces);
    ReaderRunning = true;
  } catch (const std::system_error&) {
    // No thread to be had: every read is done at once.
  }
}

void StopPieceReads() {
  if (!ReaderRunning) return;
  {
    std::lock_guard<std::mutex> lock(ReadLock);
    Read.stop = true;
    ReadChanged.notify_all();
  }
  Reader.join();
  ReaderRunning = false;
}

void StartPieceRead(HANDLE handle, ULONG_PTR base, void* into, SIZE_T size) {
  if (!ReaderRunning) {
    Read.copied = ReadNow(handle, base, into, size);
    return;
  }
  std::lock_guard<std::mutex> lock(ReadLock);
  Read.handle = handle;
  Read.base = base;
  Read.into = into;
  Read.size = size;
  Read.pending = true;
  ++ReadsHanded;
  ReadChanged.notify_all();
}

SIZE_T FinishPieceRead() {
  if (!ReaderRunning) return Read.copied;
  WatchReads(true);
  std::unique_lock<std::mutex> lock(ReadLock);
  while (Read.pending) ReadChanged.wait(lock);
  return Read.copied;
}
