#include "platform/terminal.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string_view>

#include "common/utf16.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace kestrune::platform {
namespace {

std::atomic<void (*)()> g_stop{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing: the default
  auto* stop = g_stop.load();
  if (stop == nullptr) return FALSE;
  stop();
  return TRUE;
}

}  // namespace

bool StderrIsTerminal() {
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (err == nullptr || err == INVALID_HANDLE_VALUE || !::GetConsoleMode(err, &mode)) return false;
  // The bar is redrawn with escape sequences; a console that cannot take them
  // gets the plain messages only.
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) {
      const std::wstring_view arg(wide[i]);
      const std::optional<std::string> utf8 =
          Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(arg.data()), arg.size()));
      if (!utf8) {  // an unpaired surrogate: no file can be named with it here
        args.clear();
        break;
      }
      args.push_back(*utf8);
    }
    ::LocalFree(wide);
  }
  if (args.empty()) args.assign(argv, argv + argc);
  return args;
}

void WriteStandardStreamsAsBytes() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
}

void SetInterruptHandler(void (*stop)()) {
  g_stop.store(stop);
  ::SetConsoleCtrlHandler(OnConsoleControl, stop != nullptr ? TRUE : FALSE);
}

}  // namespace kestrune::platform
