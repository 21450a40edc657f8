#pragma once

#include <string>
#include <vector>

// The 23 lines of the help text, without line ends.
const std::vector<std::string>& HelpLines();

// Writes the help text to standard output.
void PrintHelp();
