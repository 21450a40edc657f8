// Chooses the process whose memory the tool searches: by process ID, by
// executable name (exact, then case-insensitive), or the last listed process.
#pragma once

#include <string>

#include "platform/process_services.h"

// The chosen process ID; 0 when no process can be chosen. Never the tool
// itself, nor a process it started.
platform::DWORD FindEmulatorProcess(const std::string& emulatorName);

// `text` without the blanks and control characters (codes up to 0x20) at both ends.
std::string TrimBlanks(const std::string& text);

// `text` with only "A".."Z" mapped to "a".."z".
std::string FoldCase(const std::string& text);
