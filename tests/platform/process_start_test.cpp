#include "platform/process_start.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "scratch_folder.h"

namespace {

using platform_test::ScratchFolder;
using Pieces = std::vector<std::string>;

struct SplitCase {
  const char* line;
  Pieces pieces;
};

const SplitCase kSplitCases[] = {
    {"", {}},
    {" \t ", {}},
    {"a b\t\tc ", {"a", "b", "c"}},
    {R"("/opt/My App/agent" --x)", {"/opt/My App/agent", "--x"}},
    {R"(a"b c"d)", {"ab cd"}},
    {R"(a "" b)", {"a", "", "b"}},
    {R"("unclosed b)", {"unclosed b"}},
    {R"(\"a)", {R"("a)"}},
    {R"(\\"a b")", {R"(\a b)"}},
    {R"(\\\"a)", {R"(\"a)"}},
    {R"(a\b a\\b)", {R"(a\b)", R"(a\\b)"}},
    {R"("a\\" b)", {R"(a\)", "b"}},
    {R"(tail\\)", {R"(tail\\)"}},
    {R"("a""b c")", {R"(a"b c)"}},
    {R"("""")", {R"(")"}},
};

TEST(SplitCommandLine, SplitsAsTheWindowsArgumentParser) {
  for (const SplitCase& c : kSplitCases) {
    EXPECT_EQ(platform::SplitCommandLine(c.line), c.pieces) << c.line;
  }
}

TEST(QuoteSpaces, QuotesOnlyUnquotedPathsWithSpaces) {
  const std::pair<std::string, std::string> cases[] = {
      {"/usr/bin/agent", "/usr/bin/agent"},
      {"/opt/My App/agent", R"("/opt/My App/agent")"},
      {R"("/opt/My App/agent")", R"("/opt/My App/agent")"},
      {"", ""},
  };
  for (const auto& [path, quoted] : cases) {
    EXPECT_EQ(platform::QuoteSpaces(path), quoted);
  }
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The lines a started script wrote to `path` (it writes a temporary file and renames it).
Pieces WaitForLines(const std::string& path) {
  EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(path); })) << path;
  Pieces lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    lines.push_back(line);
  }
  return lines;
}

// Shell code writing its lines to the file named by `target` all at once.
std::string WritingTo(const std::string& target, const std::string& body) {
  return "{ " + body + "; } > \"" + target + ".part\" && mv \"" + target + ".part\" \"" + target +
         "\"";
}

TEST(StartProcess, PassesArgumentsAndReapsTheChild) {
  const ScratchFolder scratch;
  const std::string out = scratch.Path("out");
  // Standard output and error are looked at before the block's redirection replaces them.
  const std::string script =
      "o=$(readlink /proc/$$/fd/1 /proc/$$/fd/2); " +
      WritingTo("$0", "echo $$; readlink /proc/$$/fd/0; echo \"$o\"; printf '%s\\n' \"$@\"");
  ASSERT_TRUE(
      platform::StartProcess("sh", {"-c", script, out, "two words", R"(a "quoted" \ one)", ""}));

  const Pieces lines = WaitForLines(out);
  const Pieces expected = {"/dev/null", "/dev/null",           "/dev/null",
                           "two words", R"(a "quoted" \ one)", ""};
  ASSERT_EQ(lines.size(), expected.size() + 1);
  EXPECT_EQ(Pieces(lines.begin() + 1, lines.end()), expected);

  const std::string proc = "/proc/" + lines[0];
  EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(proc); })) << "zombie left: " << proc;
}

// The bit of `signal` in a "SigIgn:" line of /proc/<pid>/status.
bool SignalInMask(const std::string& statusLine, int signal) {
  const unsigned long long mask =
      std::stoull(statusLine.substr(statusLine.find('\t') + 1), nullptr, 16);
  return (mask >> (signal - 1)) & 1;
}

// Neither a descriptor opened without close-on-exec (as a loaded module may), nor an ignored
// signal (SIGPIPE, for our sockets) reaches the started program.
TEST(StartProcess, ChildGetsNoStrayDescriptorOrIgnoredSignal) {
  const ScratchFolder scratch;
  const std::string out = scratch.Path("out");
  const int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 3);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);

  const std::string fd = "/proc/$$/fd/" + std::to_string(stray);
  const bool started = platform::StartProcess(
      "/bin/sh", {"-c",
                  "[ -e " + fd + " ] && s=leaked || s=closed; " +
                      WritingTo("$0", "echo $s; grep '^SigIgn' /proc/self/status"),
                  out});
  sigaction(SIGPIPE, &previous, nullptr);
  close(stray);
  ASSERT_TRUE(started);

  const Pieces lines = WaitForLines(out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "closed");
  EXPECT_FALSE(SignalInMask(lines[1], SIGPIPE)) << lines[1];
}

TEST(StartProcess, MissingProgramIsNotStarted) {
  EXPECT_FALSE(platform::StartProcess("/nonexistent/program", {}));
  EXPECT_FALSE(platform::StartProcess("no-such-program-on-path", {}));
  EXPECT_FALSE(platform::StartProcess("", {}));
  EXPECT_FALSE(platform::StartCommandLine("  "));
}

// The restart path: a quoted program path with spaces as the command line.
TEST(StartCommandLine, StartsQuotedProgramWithItsArguments) {
  const ScratchFolder scratch;
  ASSERT_TRUE(std::filesystem::create_directory(scratch.Path("with space")));
  const std::string program = scratch.Path("with space/program");
  std::ofstream(program) << "#!/bin/sh\nt=$1; shift; " << WritingTo("$t", "printf '%s\\n' \"$@\"")
                         << "\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  const std::string out = scratch.Path("out");

  ASSERT_TRUE(
      platform::StartCommandLine(platform::QuoteSpaces(program) + " " + out + R"( "a b" c\"d)"));
  EXPECT_EQ(WaitForLines(out), (Pieces{"a b", R"(c"d)"}));
}

}  // namespace
