#include "platform/process_start.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <system_error>
#include <thread>

extern char** environ;

namespace platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Reads one piece starting at `pos` (not a blank) and leaves `pos` after it.
std::string ReadPiece(std::string_view line, size_t& pos) {
  std::string piece;
  bool grouped = false;
  while (pos < line.size() && (grouped || !IsBlank(line[pos]))) {
    const char c = line[pos];
    if (c == '\\') {
      const size_t end = line.find_first_not_of('\\', pos);
      const size_t count = (end == std::string_view::npos ? line.size() : end) - pos;
      const bool beforeQuote = end != std::string_view::npos && line[end] == '"';
      piece.append(beforeQuote ? count / 2 : count, '\\');
      pos += count;
      if (beforeQuote && count % 2 == 1) {
        piece.push_back('"');
        ++pos;
      }
    } else if (c == '"' && grouped && pos + 1 < line.size() && line[pos + 1] == '"') {
      piece.push_back('"');  // "" inside a group is a quote and the group goes on
      pos += 2;
    } else if (c == '"') {
      grouped = !grouped;
      ++pos;
    } else {
      piece.push_back(c);
      ++pos;
    }
  }
  return piece;
}

// Owns the spawn set-up: stdio on /dev/null, no other descriptor, default signal handling.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
    // Loaded modules may open descriptors without close-on-exec; none of them goes along.
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);

    // Ignored signals (SIGPIPE for our sockets) and our blocked ones would survive the exec.
    posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Waits for the child on a thread of its own, so no zombie stays and no SIGCHLD handler is
// needed (other code waits for its own children).
void ReapWhenDone(pid_t pid) {
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until we exit; it was started all the same.
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  for (;;) {
    while (pos < commandLine.size() && IsBlank(commandLine[pos])) {
      ++pos;
    }
    if (pos == commandLine.size()) {
      return pieces;
    }
    pieces.push_back(ReadPiece(commandLine, pos));
  }
}

std::string QuoteSpaces(const std::string& path) {
  const bool quoted = path.size() >= 2 && path.front() == '"' && path.back() == '"';
  if (quoted || path.find(' ') == std::string::npos) {
    return path;
  }
  return '"' + path + '"';
}

bool StartProcess(const std::string& program, const std::vector<std::string>& arguments) {
  if (program.empty()) {
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  const SpawnSetup setup;
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.data(),
                   environ) != 0) {
    return false;
  }
  ReapWhenDone(pid);
  return true;
}

bool StartCommandLine(std::string_view commandLine) {
  std::vector<std::string> pieces = SplitCommandLine(commandLine);
  if (pieces.empty()) {
    return false;
  }
  const std::string program = pieces.front();
  pieces.erase(pieces.begin());
  return StartProcess(program, pieces);
}

}  // namespace platform
