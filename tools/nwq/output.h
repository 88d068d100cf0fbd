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
// Inside a catch (...): what went wrong, for people. A FileError names its
// file; anything else, out of memory say, is told after `path`.
std::wstring CurrentErrorText(const std::wstring& path);

}  // namespace nwq
