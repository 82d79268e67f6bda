#pragma once

#include <string>

// Makes every directory named in an output file path exist, outermost first; never
// creates the file itself. Each prefix that ends at a '/' is looked up and created when no
// entry of that name exists; failures are passed over. A backslash is an ordinary byte of a
// name here. Returns 1 in every case; whether the path is usable shows when the caller
// opens its file.
int PrepareDirectories(const std::string& path);
