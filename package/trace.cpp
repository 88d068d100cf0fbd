#include "package/trace.h"

#include <atomic>
#include <cstdio>

#include "platform/text.h"

namespace package_trace {
namespace {
std::atomic<bool> g_enabled{true};
}

void SetEnabled(bool enabled) { g_enabled = enabled; }
bool Enabled() { return g_enabled; }

void Write(const std::wstring& line) {
  if (!g_enabled) return;
#if defined(_WIN32)
  std::fputws(line.c_str(), stdout);
#else
  // A POSIX stream keeps one orientation; UTF-8 bytes mix safely with the
  // narrow trace text.
  std::fputs(text::ToUtf8(line).c_str(), stdout);
#endif
}

void WriteNarrow(const char* text) {
  if (g_enabled) std::fputs(text, stdout);
}

}  // namespace package_trace
