#include "app/setup_arguments.h"

namespace app {

namespace {
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
}  // namespace

std::vector<std::wstring> SplitSetupCommandLine(const std::wstring& commandLine) {
  std::size_t at = 0;
  while (at < commandLine.size() && IsBlank(commandLine[at]))
    ++at;
  // The program: quoted up to the next quote, else up to the first blank.
  if (at < commandLine.size() && commandLine[at] == L'"') {
    const std::size_t close = commandLine.find(L'"', at + 1);
    at = close == std::wstring::npos ? commandLine.size() : close + 1;
  }
  while (at < commandLine.size() && !IsBlank(commandLine[at]))
    ++at;

  std::vector<std::wstring> arguments;
  std::wstring argument;
  bool inArgument = false;
  bool quoted = false;
  for (; at < commandLine.size(); ++at) {
    const wchar_t c = commandLine[at];
    if (c == L'"') {
      quoted = !quoted;
      inArgument = true;
    } else if (IsBlank(c) && !quoted) {
      if (inArgument) arguments.push_back(std::move(argument));
      argument.clear();
      inArgument = false;
    } else {
      argument += c;
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(std::move(argument));
  return arguments;
}

}  // namespace app
