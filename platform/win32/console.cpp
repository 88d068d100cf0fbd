#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include "platform/platform.h"

namespace platform {

std::vector<std::wstring> CommandLineArguments(int, char**) {
  // The narrow argv has been through the ANSI code page; take the real text.
  std::vector<std::wstring> arguments;
  int count = 0;
  if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i)
      arguments.emplace_back(wide[i]);
    ::LocalFree(wide);
  }
  return arguments;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

void UseUtf8Console() { ::SetConsoleOutputCP(CP_UTF8); }

}  // namespace platform
