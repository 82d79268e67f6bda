#pragma once

#include <string>

// The recording path the program was started with: the first argument, without the double
// quotes around it when it arrives quoted; empty when there is no argument. Anything after
// the first argument is ignored.
std::string CommandLinePath(int argc, const char* const* argv);
