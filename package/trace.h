// The package code's trace lines on standard output. A windowed program shows
// them nowhere; the command-line tool turns them off unless asked.
#pragma once

#include <string>

namespace package_trace {

void SetEnabled(bool enabled);
bool Enabled();
void Write(const std::wstring& line);
// 8-bit text, written as it stands.
void WriteNarrow(const char* text);

}  // namespace package_trace
