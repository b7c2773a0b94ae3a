#include "support/child_process.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <thread>

#include "common/path_text.h"

namespace kestrune::hostile {
namespace {

std::wstring Wide(const std::string& utf8) { return PathFromUtf8(utf8).native(); }

// One argument quoted so that CommandLineToArgvW and the C runtime read it back
// as it was: backslashes double only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// The current environment with the additions, as a sorted block (names are
// not case-sensitive here).
std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& additions) {
  std::map<std::wstring, std::wstring> entries;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* e = block; *e != L'\0'; e += std::wcslen(e) + 1) {
      const std::wstring entry = e;
      const size_t eq = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
      if (eq != std::wstring::npos) entries[Upper(entry.substr(0, eq))] = entry;
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : additions) entries[Upper(Wide(name))] = Wide(name) + L"=" + Wide(value);
  std::wstring block;
  for (const auto& [upper, entry] : entries) block += entry + L'\0';
  return block + L'\0';
}

void ReadAllOf(HANDLE pipe, std::string& into) {
  char buffer[65536];
  DWORD n = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) into.append(buffer, n);
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
  return text + "\n--- stderr ---\n" + err + "\n--- stdout ---\n" + out.substr(0, 2000);
}

ChildOutcome RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildOutcome outcome;
  if (argv.empty() || options.fileSizeLimit || options.stderrIsTerminal || options.onStderr) return outcome;
  std::wstring line;
  for (const std::string& arg : argv) AppendQuoted(line, Wide(arg));
  std::wstring environment = EnvironmentBlock(options.environment);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return outcome;
  if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    for (HANDLE h : {outRead, outWrite}) ::CloseHandle(h);
    return outcome;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE null = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const std::wstring folder = options.workingFolder.native();
  // Wine's process creation now and then fails once under load; a second
  // try is what a user re-running the command would do.
  BOOL created = FALSE;
  for (int attempt = 0; attempt < 3 && !created; ++attempt) {
    if (attempt > 0) ::Sleep(250);
    created = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                               environment.data(), folder.empty() ? nullptr : folder.c_str(), &startup, &process);
  }
  for (HANDLE h : {outWrite, errWrite, null}) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  if (!created) {
    for (HANDLE h : {outRead, errRead}) ::CloseHandle(h);
    return outcome;
  }
  outcome.started = true;
  // One reader per pipe, so that a child filling either never blocks.
  std::thread outReader(ReadAllOf, outRead, std::ref(outcome.out));
  std::thread errReader(ReadAllOf, errRead, std::ref(outcome.err));
  const DWORD limit = static_cast<DWORD>(std::max(options.timeLimitSeconds, 0)) * 1000u;
  if (::WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
    outcome.timedOut = true;
    ::TerminateProcess(process.hProcess, 137);
    ::WaitForSingleObject(process.hProcess, INFINITE);
  }
  outReader.join();
  errReader.join();
  DWORD code = 0;
  if (::GetExitCodeProcess(process.hProcess, &code)) {
    outcome.exited = !outcome.timedOut;
    // A crash ends the process with an exception code (0xC0000005 and the
    // like) instead of a status the program chose.
    if (code >= 0xC0000000u) outcome.exited = false;
    outcome.status = static_cast<int>(code);
  }
  for (HANDLE h : {process.hProcess, process.hThread, outRead, errRead}) ::CloseHandle(h);
  return outcome;
}

std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(Utf8Of(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kestrune::hostile
