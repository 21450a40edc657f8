#pragma once

#include <string>
#include <vector>

// The help text, without line ends: Mirvane.exe's 23 lines as they always
// were; the 64-bit tools' own, which name the tool and list its options.
const std::vector<std::string>& HelpLines();

// Writes the help text to standard output.
void PrintHelp();
