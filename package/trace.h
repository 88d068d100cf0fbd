// The package code's trace lines on standard output. A windowed program shows
// them nowhere; the command-line tool turns them off unless asked.
#pragma once

#include <string>

struct PackageHeader;
struct PackageFileRecord;
enum class HeaderFault;

namespace package_trace {

void SetEnabled(bool enabled);
bool Enabled();
void Write(const std::wstring& line);
// 8-bit text, written as it stands.
void WriteNarrow(const char* text);

// The lines of a checked header: its fields when it was accepted, "Keine
// gültige Datei!" when not.
void TraceHeader(const PackageHeader& header, HeaderFault fault);
// The lines of a file record, as the extractor reaches it.
void TraceRecord(const PackageFileRecord& record);

}  // namespace package_trace
