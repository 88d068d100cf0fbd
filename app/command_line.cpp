#include "app/command_line.h"

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
  ParsedCommandLine parsed;
  if (!arguments.empty()) parsed.error = L"not yet parsed";
  return parsed;
}

std::wstring UsageText() { return L"Tessavo [/quiet | /passive] [/dir=PATH] [/packages=NAME,...] [/log=PATH]"; }
