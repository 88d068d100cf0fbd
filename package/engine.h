// The extraction engine: unpacks one package into a destination and tells an
// observer what happens. Everything it needs comes in through its arguments;
// the wizard's plain-function callbacks, the tool and the benchmark are all
// observers of it.
//
// One entry runs through four steps: its paths are formed and checked (and
// its folder created, the target found replaceable, without touching it), its
// stream is decoded into a new temporary file in the target's folder, and the
// commit moves that file over the target in one step and gives it its times.
// A target is therefore replaced whole or not at all: on any failure or a
// cancel the temporary file goes and the earlier file stays as it was. Each
// step is a function of its own, so decoding several entries at once while
// committing them in record order can be added without reshaping the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/package.h"
#include "platform/file_error.h"

namespace package_engine {

enum class ErrorKind {
  kUnsafePath,          // the record's folder or name leaves the destination
  kFolderNotCreated,    // the entry's folder could not be created
  kOutputNotOpened,     // the output file cannot be replaced, or its temporary file created or moved
  kDamaged,             // the stored data does not decode, or its size is negative
  kDecoderUnavailable,  // zlib could not set up its state
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
  // The file is complete, closed and has its times.
  virtual void OnEntryFinished(const std::wstring& /*outputPath*/, std::uint64_t /*bytesWritten*/) {}
  // Just before the FileError for it is raised. `path` is the stored path for
  // kUnsafePath, the folder for kFolderNotCreated, else the output file.
  virtual void OnError(ErrorKind /*kind*/, const std::wstring& /*path*/) {}
  // Asked before each entry and after each input chunk; true stops the
  // extraction there: the entry in hand is discarded, earlier ones stay, and
  // Extract returns kCancelled. May be called from the extracting thread only.
  virtual bool StopRequested() { return false; }
};

struct Options {
  // The wizard's 4096/8192 bytes by default.
  ExtractBuffers buffers;
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
// FileError after the observer heard of them; the error names the output
// file, never its temporary file.
Result Extract(const std::wstring& path, const std::wstring& expectedName, const std::wstring& destination,
               Observer& observer, const Options& options = {});

// The record loop alone; `package` stands just after an accepted header.
// kExtracted after the last entry, kCancelled when the observer stopped it.
Outcome ExtractContents(platform::File& package, const std::wstring& destination, Observer& observer,
                        const Options& options = {});

}  // namespace package_engine
