// Runs a program as a child process the way a user or a script would, with a
// time limit (a hang is killed and reported), an optional file-size limit
// (RLIMIT_FSIZE, a full disk in miniature), its own environment additions and
// working folder, and standard error on a terminal when asked. On Windows
// (child_process_win32.cpp) there is no file-size limit and no terminal:
// those options are refused there, and the tests that need them are POSIX's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune::hostile {

using ChildId = int64_t;  // a process id

struct ChildOptions {
  std::filesystem::path workingFolder;  // empty: the caller's
  std::vector<std::pair<std::string, std::string>> environment;  // set in the child
  std::optional<uint64_t> fileSizeLimit;  // bytes
  int timeLimitSeconds = 120;
  // Standard error is a pseudo-terminal, so progress is drawn.
  bool stderrIsTerminal = false;
  // Called with the child's id and all of standard error so far, each time
  // more of it arrives. While it runs nothing is read, so a child that writes
  // a lot blocks on a full terminal or pipe.
  std::function<void(ChildId, const std::string&)> onStderr;
};

struct ChildOutcome {
  bool started = false;
  bool exited = false;  // ended by exit(), with status
  int status = -1;
  int signal = 0;  // ended by this signal
  bool timedOut = false;
  std::string out;
  std::string err;

  // A finding of AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer.
  bool SanitizerReport() const;
  // Exited on its own with a status, with no sanitizer report.
  bool EndedCleanly() const { return started && exited && !timedOut && !SanitizerReport(); }
  std::string Describe() const;
};

ChildOutcome RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

// args as a shell would split them: at spaces, except inside single quotes.
inline std::vector<std::string> ShellWords(const std::string& args) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool any = false;
  for (const char c : args) {
    if (c == '\'') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

// The names in folder (not recursive), sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);

}  // namespace kestrune::hostile
