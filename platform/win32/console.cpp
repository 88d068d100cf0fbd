#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include "platform/platform.h"
#include "platform/win32/owners.h"
#include "platform/win32/system_library.h"

namespace platform {

std::vector<std::wstring> CommandLineArguments(int, char**) {
  // The narrow argv has been through the ANSI code page; take the real text.
  std::vector<std::wstring> arguments;
  const auto split = SystemFunction<decltype(::CommandLineToArgvW)>(SystemDll::kShell32, "CommandLineToArgvW");
  int count = 0;
  wchar_t** wide = split != nullptr ? split(::GetCommandLineW(), &count) : nullptr;
  const UniqueLocalMemory owner(wide);
  for (int i = 0; wide != nullptr && i < count; ++i)
    arguments.emplace_back(wide[i]);
  return arguments;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

void UseUtf8Console() { ::SetConsoleOutputCP(CP_UTF8); }

}  // namespace platform
