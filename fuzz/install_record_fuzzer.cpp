// The install record's reader on arbitrary text. Uninstall deletes by what
// it reads, so: whatever reads must write back to a record that reads the
// same, and a removal planned by it must name nothing outside its
// destinations.
#include <cstdlib>
#include <string>

#include "app/install_record.h"
#include "platform/platform.h"

namespace {

bool Below(const std::wstring& path, const std::wstring& root) {
  if (path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  const std::wstring rest = path.substr(root.size());
  std::size_t start = 0;
  for (;;) {
#if defined(_WIN32)
    const std::size_t end = rest.find_first_of(L"\\/", start);
#else
    // A backslash is a name's own on POSIX.
    const std::size_t end = rest.find(L'/', start);
#endif
    const std::wstring part = rest.substr(start, end == std::wstring::npos ? end : end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
#if defined(_WIN32)
    // A drive or a stream; on POSIX a colon is a name's own.
    if (part.find(L':') != std::wstring::npos) return false;
#endif
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const app::RecordReading reading = app::ParseInstallRecord(std::string(reinterpret_cast<const char*>(data), size));
  if (reading.status != app::RecordReading::Status::kRead) {
    if (!reading.record.destinations.empty()) std::abort();
    return 0;
  }
  const app::RecordReading again = app::ParseInstallRecord(app::SerializeInstallRecord(reading.record));
  if (again.status != app::RecordReading::Status::kRead || !(again.record == reading.record)) std::abort();

  // Every recorded file is there and unchanged: the plan takes the most it can.
  const app::RemovalPlan plan = app::PlanRemoval(
      reading.record, std::nullopt, [&reading](const std::wstring& path) -> std::optional<app::DiskFile> {
        for (const app::RecordedDestination& destination : reading.record.destinations)
          for (const app::RecordedFile& file : destination.files)
            if (destination.root + file.path == path) return app::DiskFile{file.size, file.modified};
        return std::nullopt;
      });
  for (const auto* removals : {&plan.files, &plan.folders}) {
    for (const app::PlannedRemoval& removal : *removals) {
      // A folder made for the destination is the root or above it, never a drive.
      const bool fits = removal.made ? removal.destination.starts_with(removal.path + L"/") ||
                                           removal.destination.starts_with(removal.path + L"\\")
                                     : Below(removal.path, removal.destination);
      if (!fits) std::abort();
    }
  }
  return 0;
}
