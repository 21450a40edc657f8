// One run of the tool, from the command line to the exit status.
#pragma once

#include <string>
#include <vector>

// The arguments after the program name; returns the process exit status.
int RunMirvane(const std::vector<std::string>& arguments);
