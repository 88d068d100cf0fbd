// Printing for nwq: UTF-8 on both systems, errors on standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nwq {

void Print(const std::wstring& line);       // standard output, with a line end
void PrintError(const std::wstring& line);  // standard error, prefixed "nwq: "
// A Windows file time as ISO 8601 UTC ("-" for no time).
std::wstring IsoTime(std::uint64_t fileTime);
bool HasHelpFlag(const std::vector<std::wstring>& arguments);

}  // namespace nwq
