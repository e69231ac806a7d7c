// Starting processes the way the shell starts a command line: hidden, not waited for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line as the platform's argument parser does for a program's command line:
// blanks (space, tab) separate arguments; double quotes group, and "" inside a group gives a
// quote while the group goes on; 2n backslashes before a quote give n backslashes and the quote
// toggles grouping, 2n+1 give n backslashes and a literal quote; other backslashes are literal.
// The first piece follows the same rules; a blank or empty line gives no pieces.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The path in double quotes when it contains a space, unchanged otherwise.
std::string QuoteSpaces(const std::string& path);

// Starts `program` (a path, or a bare name searched on PATH) with `arguments` (argv[1...]),
// standard input, output and error on /dev/null, the current environment and directory.
// The child is reaped when it ends; nobody waits for it. False when it could not be started.
bool StartProcess(const std::string& program, const std::vector<std::string>& arguments);

// Splits `commandLine` and starts its first piece with the rest as arguments.
bool StartCommandLine(std::string_view commandLine);

}  // namespace platform
