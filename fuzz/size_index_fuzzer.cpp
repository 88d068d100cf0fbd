// The size index read from the end of arbitrary package bytes: it must end,
// allocate no more than the file could need, and trust only an index whose
// entries add up to where it stands.
#include <cstdlib>

#include "fuzz/scratch.h"
#include "package/package.h"
#include "package/size_index.h"
#include "package/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  package::trace::SetEnabled(false);
  const std::filesystem::path path = fuzz::ScratchRoot() / "FUZZ.nwq";
  fuzz::WriteFile(path, data, size);
  try {
    const package::size_index::SizeIndex index = package::size_index::ReadFile(fuzz::Wide(path));
    // A footer's word, once its checksum holds, is what nwq index cuts at.
    if (index.checksummedOffset && *index.checksummedOffset + package::kPackageFileRecordSize > size) std::abort();
    if (!index.IsValid()) {
      if (!index.entries.empty()) std::abort();
      return 0;
    }
    std::uint64_t end = package::kPackageHeaderSize;
    for (const package::size_index::Entry& entry : index.entries)
      end += package::kPackageFileRecordSize + entry.storedSize;
    if (end != index.contentsEnd || index.contentsEnd > size) std::abort();
  } catch (const FileError&) {
    // An I/O failure is reported, not a crash.
  }
  return 0;
}
