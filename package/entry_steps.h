// One entry's life, step by step; the scheduler (extraction.cpp) runs these
// steps for many entries at once and keeps them in record order.
//
//   1. CheckEntry     refuses an unsafe path or a negative size before
//                     anything is written.
//      LookAtEntry    (only in a run that skips unchanged files) gives the
//                     entry's facts and its target's, from one look at the
//                     target and the last four stored bytes; the observer
//                     then tells whether the entry is written, left, or
//                     left only when CompareContent finds the target's
//                     bytes to be the entry's (before step 4). A file left
//                     goes through none of the steps below.
//   2. PrepareFolder  creates the entry's folder (MissingFolders first, so
//                     that RemoveFolders can take back what was made for an
//                     entry forgotten before its turn).
//   3. CheckTarget    refuses a target that cannot be replaced, without
//                     touching it.
//   4. DecodeEntry    decodes the stream into a new temporary file in the
//                     target's folder (a StagedFile), whole in one call when
//                     the size index allows, else chunk by chunk, and flushes
//                     it when it replaces a file.
//   5. CommitEntry    moves the staged file over the target in one step and
//                     gives it its times.
//
// Until step 5 the target is untouched: a failure, a cancel or an exception
// removes the staged file, and the earlier file stays as it was. An error
// never names the temporary file: what fails on it is told of the output
// file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "package/engine.h"
#include "package/package.h"
#include "package/package_path.h"
#include "package/record_walker.h"
#include "package/stream_decoder.h"
#include "package/temp_files.h"
#include "platform/platform.h"
#include "platform/unique_resource.h"

namespace package {

// Whole percent of the package's bytes read, header and records included;
// told only when it changes, so a package makes at most 101 reports.
class Progress {
 public:
  Progress(Observer& observer, std::uint64_t total) : observer_(observer), total_(total) {}

  // After a chunk that `reader` read of the entry.
  void Report(const EntryReader& reader, const PackageFileRecord& record) { ReportAt(reader.position(), record); }
  // Once the package's bytes before `position` have been read.
  void ReportAt(std::uint64_t position, const PackageFileRecord& record) {
    if (total_ == 0) return;
    const auto at = std::min(position, total_);
    Report(static_cast<std::int32_t>(static_cast<double>(at) * 100.0 / static_cast<double>(total_)), record);
  }
  // True when the observer was told. The percentage only rises: an entry
  // decoded again reports only how far it gets beyond its first attempt.
  bool Report(std::int32_t percent, const PackageFileRecord& record) {
    if (percent <= last_) return false;
    last_ = percent;
    observer_.OnProgress(percent, record);
    return true;
  }

 private:
  Observer& observer_;
  std::uint64_t total_;
  std::int32_t last_ = -1;
};

// The temporary file an entry is decoded into, and the bytes written to it.
struct TempFile {
  platform::File file;
  std::wstring path;
  std::uint64_t written = 0;
  std::uint32_t adler32 = 1;  // of an empty file

  void Write(const unsigned char* data, std::size_t size) {
    file.Write(data, size);
    written += size;
  }
};

// Closing a staged file removes it: on every way out before its commit (a
// failure, a cancel, an exception) the target is replaced not at all. The
// commit releases it once it has been moved over the target.
struct StagedFileTraits {
  using Handle = TempFile*;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  static bool Close(Handle temp) noexcept {
    temp->file = platform::File();  // Windows removes no open file
    const bool removed = platform::RemoveFile(temp->path);
    delete temp;
    return removed;
  }
};
using StagedFile = platform::UniqueResource<StagedFileTraits>;

// The folders a run has written into, by each spelling met and by identity,
// so that one spelt another way ("a/./", or "MAPS\\" for "Maps\\" on
// Windows) counts as the same.
using FolderSet = std::set<std::variant<platform::FileIdentity, std::wstring>>;

// How an entry is decoded, as found while it was prepared.
struct DecodePlan {
  // A file was there: the new one reaches the disk before it replaces it, so
  // that a crash cannot leave an empty file where one was. A new file has
  // nothing to lose and is not flushed.
  bool replaces = false;
  // The unpacked size the size index gives, when it fits the whole-entry
  // budget: the entry is then decoded in one call (whole_entry.h).
  std::optional<std::uint64_t> wholeSize;
  // Where the decoding is counted, when someone asks.
  DecodeCounts* counts = nullptr;
};

// Refuses what must not be written before anything is.
void CheckEntry(const PackageFileRecord& record, const package_path::EntryPaths& paths);

// A zlib stream's two header bytes and its check value: an entry with fewer
// stored bytes has no check value, unless it has none at all and the index
// lists it as empty (the check value of no bytes, 1).
inline constexpr std::int64_t kShortestStream = 6;
inline constexpr std::size_t kCheckValueSize = 4;

// The facts of an entry whose unpacked size a valid size index gives and
// whose stored bytes end with `checkValue` (its stream's Adler-32, big-endian).
EntryFacts LookAtEntry(const unsigned char (&checkValue)[kCheckValueSize], const PackageFileRecord& record,
                       const package_path::EntryPaths& paths, std::uint64_t unpackedSize);

enum class Comparison { kSame, kDifferent, kStopped };
// Whether the file at `facts.outputPath` holds `facts.size` bytes whose
// Adler-32 is `facts.adler32`, read once into `buffer`. A file that cannot
// be opened or read counts as different. Asks the observer about a stop
// between chunks.
Comparison CompareContent(const EntryFacts& facts, std::vector<unsigned char>& buffer, Observer& observer);

// The levels of `folder` that do not exist yet, outermost first.
std::vector<std::wstring> MissingFolders(std::wstring folder);

// Creates the entry's folder; the first time a run writes into a folder, the
// temporary files that a killed run left there go.
void PrepareFolder(const package_path::EntryPaths& paths, FolderSet& prepared, const temp_files::OwnFiles& own);

// Takes back the folders MissingFolders found, innermost first; a folder
// that holds something stays.
void RemoveFolders(const std::vector<std::wstring>& made) noexcept;

// A target that cannot be replaced is refused before anything is decoded,
// reported as the open of the output file always was. True when a file is
// there to be replaced.
bool CheckTarget(const package_path::EntryPaths& paths);

// Decodes the entry into a new temporary file in its folder, flushes it when
// it replaces a file, and closes it. Empty when the observer asked to stop;
// the temporary file is gone then. Whichever way it is decoded, the observer
// hears the progress that streaming it would have told.
StagedFile DecodeEntry(EntryReader& reader, const PackageFileRecord& record, const package_path::EntryPaths& paths,
                       const DecodePlan& plan, DecodeWorkspace& work, Progress& progress, temp_files::OwnFiles& own,
                       Observer& observer);

// Moves the decoded file over the target in one step, then gives it its
// times (after the move, since NTFS may carry the replaced file's creation
// time over to the new one), and tells the observer of the folders made for
// it (`madeFolders`, which now stay) and that the file is finished.
void CommitEntry(StagedFile staged, const PackageFileRecord& record, const package_path::EntryPaths& paths,
                 const std::vector<std::wstring>& madeFolders, Observer& observer);

}  // namespace package
