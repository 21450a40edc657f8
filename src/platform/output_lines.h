// Output lines on standard output. On a console each line goes out when it
// ends; redirected to a file or pipe, lines gather in a 128-byte buffer that is
// written when full and when the run ends. Either way the order is the order
// of the run.
#pragma once

#include <stdexcept>
#include <string>

// Thrown when standard output cannot be written; what() gives the reason.
typedef std::runtime_error OutputFailure;

void WriteOutputLine(const std::string& text);

// Writes out whatever the buffer holds. On failure the buffer is dropped and
// OutputFailure is thrown.
void FlushOutput();

// Forgets any unwritten output (after a failure nothing more is attempted).
void DiscardOutput();
