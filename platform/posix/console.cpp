#include <unistd.h>

#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

std::vector<std::wstring> CommandLineArguments(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i)
    arguments.push_back(text::FromUtf8(argv[i]));
  return arguments;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void UseUtf8Console() {}

}  // namespace platform
