#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace kestrune::hostile {
namespace {

enum class Read { Data, Nothing, End };

// Appends what fd holds now. A terminal whose other side is closed ends with EIO.
Read Drain(int fd, std::string& into) {
  char buffer[65536];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<size_t>(n));
    return Read::Data;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return Read::Nothing;
  return Read::End;
}

}  // namespace

bool ChildOutcome::SanitizerReport() const {
  return err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos;
}

std::string ChildOutcome::Describe() const {
  std::string text;
  if (!started) return "the child did not start";
  if (timedOut) text += "killed after the time limit; ";
  if (exited) text += "exit status " + std::to_string(status);
  if (signal != 0) text += "ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
  return text + "\n--- stderr ---\n" + err + "\n--- stdout ---\n" + out.substr(0, 2000);
}

ChildOutcome RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildOutcome outcome;
  // Everything the child needs is prepared before fork.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(options.environment.begin(), options.environment.end(),
                                      [&](const auto& kv) { return kv.first == name; });
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : options.environment) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  int outPipe[2];
  int errFds[2] = {-1, -1};  // [0] the parent's end, [1] the child's
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return outcome;
  if (options.stderrIsTerminal) {
    errFds[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (errFds[0] < 0 || ::grantpt(errFds[0]) != 0 || ::unlockpt(errFds[0]) != 0) return outcome;
    errFds[1] = ::open(::ptsname(errFds[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else if (::pipe2(errFds, O_CLOEXEC) != 0) {
    return outcome;
  }
  if (errFds[1] < 0) return outcome;

  const pid_t pid = ::fork();
  if (pid < 0) return outcome;
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(errFds[1], 2);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    // Dispositions the test process may have set are not the program's.
    for (int s : {SIGXFSZ, SIGPIPE, SIGINT, SIGTERM}) ::signal(s, SIG_DFL);
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) ::_exit(126);
    if (options.fileSizeLimit) {
      rlimit limit{static_cast<rlim_t>(*options.fileSizeLimit), static_cast<rlim_t>(*options.fileSizeLimit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  outcome.started = true;
  ::close(outPipe[1]);
  ::close(errFds[1]);
  ::fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
  ::fcntl(errFds[0], F_SETFL, O_NONBLOCK);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeLimitSeconds);
  bool outOpen = true;
  bool errOpen = true;
  int raw = 0;
  bool reaped = false;
  while (!reaped) {
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errFds[0], POLLIN, 0}};
    ::poll(fds, 2, 20);
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      outOpen = Drain(outPipe[0], outcome.out) != Read::End;
    }
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      const Read r = Drain(errFds[0], outcome.err);
      errOpen = r != Read::End;
      if (options.onStderr && r == Read::Data) options.onStderr(ChildId{pid}, outcome.err);
    }
    reaped = ::waitpid(pid, &raw, WNOHANG) == pid;
    if (!reaped && std::chrono::steady_clock::now() > deadline) {
      outcome.timedOut = true;
      ::kill(pid, SIGKILL);
      reaped = ::waitpid(pid, &raw, 0) == pid;
    }
  }
  // The child is gone: what it wrote is all there.
  while (outOpen && Drain(outPipe[0], outcome.out) == Read::Data) {
  }
  while (errOpen && Drain(errFds[0], outcome.err) == Read::Data) {
  }
  ::close(outPipe[0]);
  ::close(errFds[0]);
  if (WIFEXITED(raw)) {
    outcome.exited = true;
    outcome.status = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    outcome.signal = WTERMSIG(raw);
  }
  return outcome;
}

std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kestrune::hostile
