// A run that keeps watching (--watch): the answer is written when it is first
// known and again each time it changes (found, lost, found again at the same or
// another place, found in another process), each line flushed as it is
// written. Between changes each check re-reads only what proved the answer,
// in the same process (its ID and start time); only where that fails are the
// processes walked again, and while nothing is found, at most once a second.
#pragma once

#include "app/command_line.h"

// Watches until a stop is requested or, where a PID was given, that process
// ends; returns the exit status, 0. Write failures are thrown as OutputFailure.
int WatchRam(const RunSettings& settings);
