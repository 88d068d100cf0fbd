// The extraction engine: unpacks one package into a destination and tells an
// observer what happens. Everything it needs comes in through its arguments;
// the wizard's plain-function callbacks, the tool and the benchmark are all
// observers of it.
//
// One entry runs through four steps (entry_steps.h): its paths are formed
// and checked (and its folder created, the target found replaceable, without
// touching it), its stream is decoded into a new temporary file in the
// target's folder, and the commit moves that file over the target in one
// step and gives it its times. A target is therefore replaced whole or not at
// all: on any failure or a cancel the temporary file goes and the earlier
// file stays as it was. In a run that skips unchanged files
// (Options::skipUnchanged) the observer may have an entry's target left as it
// is instead, before any step touches it.
//
// Several entries are decoded at once (Options::decoders, extraction.cpp):
// the records are walked, checked and their folders made in record order on
// the caller's thread, the streams decoded by a pool of decoders, and the
// caller commits the entries in record order and makes every observer call,
// so the files, the calls and the errors are those of one decoder.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/extraction_error.h"
#include "package/package.h"
#include "platform/file_error.h"

namespace package {

// What an entry is and what its target holds, for a run that skips unchanged
// files (Options::skipUnchanged). Only packages with a valid size index have
// these facts; the others are written whole, as always.
struct EntryFacts {
  std::wstring outputPath;
  // The unpacked size the size index gives.
  std::uint64_t size = 0;
  // The last-write time the commit would give the file (whole seconds, as
  // ApplyTimes sets it); nullopt when the entry gives none it would apply.
  std::optional<std::uint64_t> modified;
  // The four bytes its stored data ends with: a zlib stream's Adler-32 of
  // the contents, read without decoding; 1 for an empty file, which has no
  // stream.
  std::uint32_t adler32 = 1;
  // The regular file at outputPath, as one look at it found it; nullopt when
  // there is none (nothing, a folder, anything else).
  struct Target {
    std::uint64_t size = 0;
    std::uint64_t modified = 0;  // last-write time, FILETIME units
  };
  std::optional<Target> target;
};

// What a run does with an entry whose facts it was shown.
enum class TargetCheck {
  kWrite,           // decode and replace it, as always
  kUnchanged,       // leave the target as it is; the entry is not decoded
  kCompareContent,  // leave it only when its bytes have the entry's size and
                    // Adler-32 (read once, never decoded); else write it
};

class Observer {
 public:
  virtual ~Observer() = default;
  // After the header was read and checked, whether it passed or not.
  virtual void OnHeaderChecked(const PackageHeader& /*header*/, HeaderFault /*fault*/) {}
  // A record was read; `outputPath` is where its file goes (not yet checked).
  virtual void OnEntryStarted(const PackageFileRecord& /*record*/, const std::wstring& /*outputPath*/) {}
  // The whole percentage of the package's bytes read, after an input chunk,
  // only when it changed.
  virtual void OnProgress(std::int32_t /*percent*/, const PackageFileRecord& /*record*/) {}
  // The folders this extraction created for the entry about to finish,
  // outermost first; each is told once, with the first file committed in it.
  virtual void OnFoldersCreated(const std::vector<std::wstring>& /*folders*/) {}
  // The file is complete, closed and has its times. `adler32` is the check
  // value of its contents as its stream ended and the decoder verified it (1
  // for an empty file), so that nobody has to read the file again for it.
  virtual void OnEntryFinished(const std::wstring& /*outputPath*/, std::uint64_t /*bytesWritten*/,
                               std::uint32_t /*adler32*/) {}
  // Only with Options::skipUnchanged, for each entry of a package with a
  // valid size index whose path passed its checks, before anything of it is
  // written. May be asked ahead of the entry's turn and more than once for
  // it, so the answer must depend on the facts alone. On the extracting
  // thread.
  virtual TargetCheck CompareTarget(const EntryFacts& /*facts*/) { return TargetCheck::kWrite; }
  // In the entry's turn, in place of OnEntryFinished: the target was left as
  // it is, and the entry's stored bytes were stepped over (the progress has
  // passed them). `contentCompared` when its bytes were read and matched.
  virtual void OnEntryUnchanged(const EntryFacts& /*facts*/, bool /*contentCompared*/) {}
  // Asked before each entry and after each input chunk; true stops the
  // extraction there: the entry in hand is discarded, earlier ones stay, and
  // Extract returns kCancelled. May be called from the extracting thread only.
  virtual bool StopRequested() { return false; }
};

// Buffers that reach nearly all of zlib's speed; the wizard's 4096/8192
// bytes cost a third of it in calls. Progress still moves only in whole
// percent of the package, whatever the buffers.
inline constexpr ExtractBuffers kLargeBuffers{256 * 1024, 1024 * 1024};

// The largest entry a decoder reads and decodes whole, in one call, when the
// package's size index gives its unpacked size: both its stored and its
// unpacked bytes must fit. Measured on mixed map data: 2 MiB (a core's L2)
// beat 512 KiB and 1 MiB, and 8 MiB lost to streaming. Each decoder holds both
// buffers, so with more than kMaxDecoders decoders (nwq --jobs) the budget
// is shared, and the buffers of all of them stay within kWholeEntryMemory.
inline constexpr std::uint64_t kWholeEntryBudget = 2 * 1024 * 1024;

// Decoders at most, whatever the machine has: each holds its buffers and a
// few temporary files open.
inline constexpr std::size_t kMaxDecoders = 8;
// Both buffers of every decoder: 32 MiB, however many decoders there are.
inline constexpr std::uint64_t kWholeEntryMemory = 2 * kMaxDecoders * kWholeEntryBudget;

// How a run's entries were decoded, for the benchmark and the tests; the
// decoders count side by side.
struct DecodeCounts {
  std::atomic<std::uint64_t> whole{0};     // decoded in one call
  std::atomic<std::uint64_t> streamed{0};  // through zlib, chunk by chunk
  std::atomic<std::uint64_t> flushed{0};   // flushed before replacing a file
  // Only with Options::skipUnchanged:
  std::atomic<std::uint64_t> compared{0};   // targets whose bytes were read to their end
  std::atomic<std::uint64_t> unchanged{0};  // left as they were, not decoded
};

struct Options {
  // The wizard's 4096/8192 bytes by default.
  ExtractBuffers buffers;
  // Entries decoded at once; 0 is one per hardware thread, at most kMaxDecoders.
  std::size_t decoders = 0;
  // 0 streams every entry through zlib.
  std::uint64_t wholeEntryBudget = kWholeEntryBudget;
  // Counted into when given.
  DecodeCounts* counts = nullptr;
  // Shows each entry's facts to Observer::CompareTarget; off, every entry is
  // written, without a look at its target beyond what replacing it needs.
  bool skipUnchanged = false;
};

enum class Outcome {
  kExtracted,      // read to its end
  kCannotOpen,     // missing, locked, unreadable: see openError
  kInvalidHeader,  // see headerFault
  kCancelled,      // the observer asked to stop
};

struct Result {
  Outcome outcome = Outcome::kExtracted;
  HeaderFault headerFault = HeaderFault::kNone;
  FileError openError;
  PackageHeader header;  // as read, also when refused
};

// Opens `path` for reading without sharing and checks its header against
// `expectedName`. On kExtracted the file stands at its first record.
Result OpenPackage(const std::wstring& path, const std::wstring& expectedName, platform::File* package);

// Opens and checks the package, then extracts it into `destination` (which
// ends in a separator). File-system failures and damaged data raise
// FileError, an ExtractionError where the extraction itself found what failed;
// the error names the output file, never its temporary file.
Result Extract(const std::wstring& path, const std::wstring& expectedName, const std::wstring& destination,
               Observer& observer, const Options& options = {});

// The record loop alone; `package` stands just after an accepted header.
// kExtracted after the last entry, kCancelled when the observer stopped it.
Outcome ExtractContents(platform::File& package, const std::wstring& destination, Observer& observer,
                        const Options& options = {});

}  // namespace package
