// The package code's trace lines on standard output. A windowed program shows
// them nowhere; the command-line tool turns them off unless asked.
#pragma once

#include <string>

#include "package/engine.h"

namespace package::trace {

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

// An engine observer that writes the header's and each record's lines as the
// wizard's extraction always has; the wizard's observers derive from it.
class TracingObserver : public Observer {
 public:
  void OnHeaderChecked(const PackageHeader& header, HeaderFault fault) override { TraceHeader(header, fault); }
  void OnEntryStarted(const PackageFileRecord& record, const std::wstring&) override { TraceRecord(record); }
};

}  // namespace package::trace
