// The tool's reader (list and verify) on arbitrary package bytes: it walks
// every entry, decoding some and stepping over others, and must end.
#include <cstdlib>

#include "fuzz/scratch.h"
#include "package/reader.h"
#include "package/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  package::trace::SetEnabled(false);
  const std::filesystem::path path = fuzz::ScratchRoot() / "FUZZ.nwq";
  fuzz::WriteFile(path, data, size);
  try {
    package::PackageReader reader({4096, 8192});
    if (reader.Open(fuzz::Wide(path), L"FUZZ").outcome != package::Outcome::kExtracted) return 0;
    package::PackageFileRecord record;
    // Each record takes 752 bytes of the input, so the walk is bounded.
    for (std::size_t index = 0; reader.NextRecord(&record); ++index) {
      if (index > size / package::kPackageFileRecordSize) std::abort();
      if (index % 2 == 0) {
        std::uint64_t decoded = 0;
        reader.VerifyData(&decoded);
      } else {
        reader.SkipData();
      }
    }
  } catch (const FileError&) {
    // An I/O failure is reported, not a crash.
  }
  return 0;
}
