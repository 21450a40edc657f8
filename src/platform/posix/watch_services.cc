// What a run that keeps watching needs: a process's start time, a clock, and
// waits that a request to stop cuts short. The signal handler only notes the
// request and writes a byte to a pipe of our own, which the wait polls: a
// signal that comes just before a wait still ends it.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "platform/posix/internal.h"

namespace platform {
namespace {

volatile std::sig_atomic_t StopRequested = 0;
int StopPipe[2] = {-1, -1};

void NoteStopRequest(int) {
  const int saved = errno;
  StopRequested = 1;
  if (StopPipe[1] >= 0) {
    const char byte = 1;
    (void)!write(StopPipe[1], &byte, 1);
  }
  errno = saved;
}

}  // namespace

BOOL GetProcessStartTime(DWORD dwProcessId, std::uint64_t* startTime) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%" PRIu32 "/stat", dwProcessId);
  posix::StatFields stat;
  // A process that has ended but not been reaped (a zombie) has ended all the same.
  if (dwProcessId == 0 || !posix::ReadStat(AT_FDCWD, path, stat) || stat.state == 'Z' || stat.state == 'X')
    return FALSE;
  *startTime = stat.startTime;
  return TRUE;
}

std::uint64_t MonotonicMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

void CatchStopRequests() {
  if (StopPipe[0] < 0 && pipe2(StopPipe, O_CLOEXEC | O_NONBLOCK) != 0) StopPipe[0] = StopPipe[1] = -1;
  struct sigaction action = {};
  action.sa_handler = NoteStopRequest;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

BOOL SleepUnlessStopped(DWORD milliseconds) {
  const std::uint64_t deadline = MonotonicMilliseconds() + milliseconds;
  while (!StopRequested) {
    const std::uint64_t now = MonotonicMilliseconds();
    if (now >= deadline) return TRUE;
    pollfd wait = {StopPipe[0], POLLIN, 0};  // a negative descriptor: the time alone
    poll(&wait, 1, static_cast<int>(deadline - now));
  }
  return FALSE;
}

}  // namespace platform
