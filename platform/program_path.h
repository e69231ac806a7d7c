// Where the running program lives (/proc/self/exe).
#pragma once

#include <string>

namespace platform {

// Full path of the running program; empty when it cannot be read.
std::string ProgramPath();
// The folder of the program, ending with "/".
std::string ProgramFolder();
// The program's own file name (the part after the last "/").
std::string ProgramFileName();

}  // namespace platform
