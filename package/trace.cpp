#include "package/trace.h"

#include <atomic>
#include <cstdio>

#include "package/package.h"
#include "platform/text.h"

namespace package::trace {
namespace {

std::atomic<bool> g_enabled{true};

#if defined(_WIN32)
constexpr const char* kInvalidFileTrace = "Keine g\xFCltige Datei!";  // the ANSI code page's text
#else
constexpr const char* kInvalidFileTrace = "Keine g\xC3\xBCltige Datei!";
#endif

}  // namespace

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

void TraceHeader(const PackageHeader& header, HeaderFault fault) {
  if (!g_enabled) return;
  if (fault != HeaderFault::kNone) {
    WriteNarrow(kInvalidFileTrace);
    return;
  }
  Write(L"Version: " + std::to_wstring(header.Version()) + L"\r\n");
  Write(L"GUID: " + header.GUID() + L"\r\n");
  Write(L"TITLE: " + header.TITLE() + L"\r\n");
  Write(L"DESCRIPTION: " + header.DESCRIPTION() + L"\r\n");
}

void TraceRecord(const PackageFileRecord& record) {
  if (!g_enabled) return;
  Write(L"\r\nDateiname: " + record.Name() + L"\r\n");
  Write(L"CreateDate: " + std::to_wstring(record.CreateDate()) + L"\r\n");
  Write(L"ModifiedDate: " + std::to_wstring(record.ModifiedDate()) + L"\r\n");
  Write(L"FileSize: " + std::to_wstring(record.FileSize()) + L"\r\n");
}

}  // namespace package::trace
