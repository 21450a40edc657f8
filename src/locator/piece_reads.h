// Reads of the target's memory, one piece at a time, on a second thread where
// the machine has a second processor: the walk scans one piece while the next
// is copied, so the scan costs no time beside the copy. Without that thread a
// read is done at once, when it is started.
#pragma once

#include "platform/process_services.h"

// Starts the reading thread where the build reads in pieces and the machine
// has more than one processor (and the system gives a thread); reads are done
// at once otherwise. StopPieceReads ends it: every walk that starts it stops
// it, also when the walk is cut short.
void StartPieceReads();
void StopPieceReads();

// Starts a read of `size` bytes at `base` in the target into `into`; one read
// at a time is pending, and the caller touches neither `into` nor the process
// services until FinishPieceRead has returned.
void StartPieceRead(platform::HANDLE handle, platform::ULONG_PTR base, void* into, platform::SIZE_T size);

// Waits for the pending read; returns how many bytes it copied.
platform::SIZE_T FinishPieceRead();
