#include "package/engine.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "package/decoder_pool.h"
#include "package/entry_path.h"
#include "package/file_times.h"
#include "package/package_path.h"
#include "package/record_walker.h"
#include "package/stream_decoder.h"

namespace package_engine {
namespace {

using namespace std::chrono_literals;

// The whole percent of the package's bytes behind `position`, header and
// records included; -1 for an empty package.
std::int32_t PercentAt(std::uint64_t position, std::uint64_t total) {
  if (total == 0) return -1;
  const auto at = std::min(position, total);
  return static_cast<std::int32_t>(static_cast<double>(at) * 100.0 / static_cast<double>(total));
}

// Told only when the percentage changes, so a package makes at most 101
// reports, whichever decoder's chunk moved it.
class Progress {
 public:
  explicit Progress(Observer& observer) : observer_(observer) {}

  // True when the observer was told.
  bool Report(std::int32_t percent, const PackageFileRecord& record) {
    if (percent < 0 || percent == last_) return false;
    last_ = percent;
    observer_.OnProgress(percent, record);
    return true;
  }

 private:
  Observer& observer_;
  std::int32_t last_ = -1;
};

// An entry refused for a reason the observer hears of (OnError) before its
// FileError is raised. Found ahead of the entry's turn, on any thread, and
// kept until the committer reaches the entry.
struct Refusal {
  ErrorKind kind;
  std::wstring path;
  FileError error;
};

[[noreturn]] void Refuse(ErrorKind kind, const std::wstring& path, FileError error) {
  throw Refusal{kind, path, std::move(error)};
}

// A decoder gives up between chunks.
struct Stopped {};

// The output file of one entry. Whatever was written of an entry that did not
// complete is removed on every way out, so a half-decoded file never looks
// installed; only an OS failure keeps it, for Retry to overwrite.
class EntryOutput {
 public:
  explicit EntryOutput(std::wstring path) : path_(std::move(path)) {}
  EntryOutput(const EntryOutput&) = delete;
  EntryOutput& operator=(const EntryOutput&) = delete;
  ~EntryOutput() {
    if (state_ != State::kOpen) return;
    file_ = platform::File();
    platform::RemoveFile(path_);
  }

  bool Open(FileError* error) {
    if (!file_.Open(path_, platform::File::Mode::kCreateWriteExclusive, error)) return false;
    state_ = State::kOpen;
    return true;
  }
  void Write(const unsigned char* data, std::size_t size) {
    file_.Write(data, size);
    written_ += size;
  }
  void Commit() {
    state_ = State::kKept;  // a late write error on close leaves what was written
    file_.Close();
  }
  void KeepPartial() { state_ = State::kKept; }
  std::uint64_t written() const { return written_; }

 private:
  enum class State { kClosed, kOpen, kKept };
  std::wstring path_;
  platform::File file_;
  State state_ = State::kClosed;
  std::uint64_t written_ = 0;
};

void ApplyTimes(const PackageFileRecord& record, const std::wstring& outputPath) {
  const std::uint64_t modified = record.ModifiedDate();
  if (modified == 0 || !file_times::IsRepresentable(modified)) return;
  platform::FileTimes present;
  if (!platform::GetFileTimes(outputPath, &present)) present = {};
  platform::FileTimes times;
  times.lastWrite = file_times::ToWholeSeconds(modified);
  times.lastAccess = file_times::ToWholeSeconds(present.lastAccess);
  const std::uint64_t created = record.CreateDate();
  if (created != 0 && file_times::IsRepresentable(created)) times.creation = file_times::ToWholeSeconds(created);
  if (!platform::SetFileTimes(outputPath, times)) {
    const platform::ErrorCode code = platform::LastError();
    throw FileError(platform::CauseFromError(code), code, outputPath);
  }
}

// One entry from its record to its commit. Everything the committer and the
// entry's decoder share is written by one side before the pool hands the
// entry over, and read by the other after.
struct PendingEntry {
  PackageFileRecord record;
  package_path::EntryPaths paths;
  // Folders made for this entry, outermost first: gone again when a stop or
  // an earlier failure means the entry never had its turn.
  std::vector<std::wstring> madeFolders;
  // Found before the entry was handed to a decoder; it has no job then.
  std::exception_ptr failure;
  // The record itself could not be read: the walk ended here.
  bool unreadable = false;
  std::shared_ptr<DecodeJob> job;
  // Written by the decoder.
  std::uint64_t written = 0;
};

// Creates the entry's folder, noting which levels did not exist before.
void MakeFolder(PendingEntry& entry) {
  std::wstring folder = entry.paths.folder;
  while (folder.size() > 1 && folder.back() == platform::kPathSeparator)
    folder.pop_back();
  std::vector<std::wstring> missing;
  for (std::wstring at = folder; !at.empty() && !platform::IsFolder(at);) {
    missing.push_back(at);
    const auto cut = at.find_last_of(platform::kPathSeparator);
    if (cut == std::wstring::npos || cut == 0) break;
    at.resize(cut);
  }
  if (!platform::CreateFolderTree(entry.paths.folder))
    Refuse(ErrorKind::kFolderNotCreated, entry.paths.folder, FileError(FileError::kBadPath, -1, entry.paths.folder));
  entry.madeFolders.assign(missing.rbegin(), missing.rend());
}

// Refuses what must not be written before anything is, in record order.
void PrepareEntry(PendingEntry& entry) {
  const std::wstring folder = entry.record.FolderWithSeparator();
  const std::wstring name = entry.record.Name();
  if (!entry_path::IsSafe(folder, name))
    Refuse(ErrorKind::kUnsafePath, folder + name, FileError(FileError::kBadPath, -1, folder + name));
  if (entry.record.FileSize() < 0)
    Refuse(ErrorKind::kDamaged, entry.paths.file, FileError(FileError::kDamaged, -1, entry.paths.file));
  MakeFolder(entry);
}

// On a decoder: the entry's stream into its output, its progress published.
bool DecodeEntry(PendingEntry& entry, EntryReader reader, std::uint64_t total, DecodeWorkspace& work, DecodeJob& job) {
  EntryOutput output(entry.paths.file);
  FileError openError;
  if (!output.Open(&openError)) Refuse(ErrorKind::kOutputNotOpened, entry.paths.file, openError);
  StreamState state = StreamState::kComplete;
  try {
    state = DecodeStream(
        reader, work, [&](const unsigned char* data, std::size_t size) { output.Write(data, size); },
        [&] {
          job.Publish(PercentAt(reader.Position(), total));
          if (job.StopRequested()) throw Stopped{};
        });
    if (state == StreamState::kComplete) output.Commit();
  } catch (const Stopped&) {
    return false;
  } catch (const FileError&) {
    output.KeepPartial();
    throw;
  }
  if (state == StreamState::kNoDecoder)
    Refuse(ErrorKind::kDecoderUnavailable, entry.paths.file, FileError(FileError::kGeneric, -1, entry.paths.file));
  if (state != StreamState::kComplete)
    Refuse(ErrorKind::kDamaged, entry.paths.file, FileError(FileError::kDamaged, -1, entry.paths.file));
  entry.written = output.written();
  return true;
}

// Raises an entry's failure on the committing thread, the observer first.
[[noreturn]] void Raise(Observer& observer, const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Refusal& refusal) {
    observer.OnError(refusal.kind, refusal.path);
    throw refusal.error;
  }
}

// The record loop: records are walked and checked in order on the caller's
// thread and their entries decoded by the pool; the caller commits them in
// record order and alone talks to the observer, so any number of decoders
// gives the same files, callbacks and errors.
class Extraction {
 public:
  Extraction(platform::File& package, const std::wstring& destination, Observer& observer, const Options& options)
      : walker_(package, package.Position(), package.Length()),
        destination_(destination),
        observer_(observer),
        progress_(observer),
        pool_(Decoders(options), Decoders(options) * kEntriesPerDecoder, options.buffers) {}

  // False when the observer asked to stop.
  bool Run() {
    try {
      return CommitAll();
    } catch (...) {
      Discard(1);
      throw;
    }
  }

 private:
  // Entries that may be decoded ahead of the one being committed, per
  // decoder: enough to keep every decoder busy behind a large entry.
  static constexpr std::size_t kEntriesPerDecoder = 4;
  // How long the committer waits for a decoder before it asks about a stop.
  static constexpr auto kStopPoll = 50ms;

  static std::size_t Decoders(const Options& options) {
    return options.decoders != 0 ? options.decoders : DefaultDecoders();
  }

  bool CommitAll() {
    for (;;) {
      Dispatch();
      if (pending_.empty()) return true;
      if (observer_.StopRequested()) return Stop(0);
      PendingEntry& entry = *pending_.front();
      if (entry.unreadable) std::rethrow_exception(entry.failure);
      observer_.OnEntryStarted(entry.record, entry.paths.file);
      if (entry.failure) Raise(observer_, entry.failure);
      if (!AwaitDecoder(entry)) return Stop(1);
      if (const std::exception_ptr failure = pool_.Failure(*entry.job)) Raise(observer_, failure);
      ApplyTimes(entry.record, entry.paths.file);
      observer_.OnEntryFinished(entry.paths.file, entry.written);
      pool_.Release(*entry.job);
      pending_.pop_front();
    }
  }

  // Walks on while the pool has room, checking each entry before handing it
  // over; a refused entry ends the walk, since nothing after it is reached.
  void Dispatch() {
    while (!walked_ && pool_.HasRoom()) {
      auto entry = std::make_unique<PendingEntry>();
      try {
        if (!walker_.Next(&entry->record)) {
          walked_ = true;
          return;
        }
      } catch (...) {
        entry->unreadable = true;
        entry->failure = std::current_exception();
        walked_ = true;
        pending_.push_back(std::move(entry));
        return;
      }
      entry->paths = package_path::Join(destination_, entry->record.Folder(), entry->record.Name());
      try {
        PrepareEntry(*entry);
        PendingEntry* decoded = entry.get();
        const std::uint64_t total = walker_.Length();
        entry->job = pool_.Submit([decoded, reader = walker_.Entry(), total](DecodeWorkspace& work, DecodeJob& job) {
          return DecodeEntry(*decoded, reader, total, work, job);
        });
      } catch (...) {
        entry->failure = std::current_exception();
        walked_ = true;
      }
      pending_.push_back(std::move(entry));
    }
  }

  // Waits for the entry's decoder, reporting its progress as far as it has
  // come and asking about a stop at each step and while waiting. False on a
  // stop.
  bool AwaitDecoder(PendingEntry& entry) {
    std::vector<std::int32_t> percents;
    for (;;) {
      percents.clear();
      const bool ended = pool_.Wait(*entry.job, kStopPoll, [&](std::int32_t percent) { percents.push_back(percent); });
      for (const std::int32_t percent : percents)
        if (progress_.Report(percent, entry.record) && observer_.StopRequested()) return false;
      if (ended) return true;
      if (observer_.StopRequested()) return false;
    }
  }

  bool Stop(std::size_t keep) {
    Discard(keep);
    return false;
  }

  // Stops every decoder, then undoes what was done ahead for the entries
  // from `keep` on (the entry in hand keeps its folder, as it had its turn).
  void Discard(std::size_t keep) {
    pool_.StopAndWait();
    for (std::size_t i = pending_.size(); i > keep; --i) {
      const PendingEntry& entry = *pending_[i - 1];
      for (auto folder = entry.madeFolders.rbegin(); folder != entry.madeFolders.rend(); ++folder) {
        std::error_code ignored;
        if (platform::IsFolder(*folder)) std::filesystem::remove(std::filesystem::path(*folder), ignored);
      }
    }
  }

  RecordWalker walker_;
  const std::wstring& destination_;
  Observer& observer_;
  Progress progress_;
  std::deque<std::unique_ptr<PendingEntry>> pending_;
  bool walked_ = false;
  DecoderPool pool_;
};

}  // namespace

Result OpenPackage(const std::wstring& path, const std::wstring& expectedName, platform::File* package) {
  Result result;
  if (!package->Open(path, platform::File::Mode::kReadExclusive, &result.openError)) {
    result.outcome = Outcome::kCannotOpen;
    return result;
  }
  result.headerFault = CheckHeader(expectedName, *package, &result.header);
  if (result.headerFault != HeaderFault::kNone) result.outcome = Outcome::kInvalidHeader;
  return result;
}

Result Extract(const std::wstring& path, const std::wstring& expectedName, const std::wstring& destination,
               Observer& observer, const Options& options) {
  platform::File package;
  Result result = OpenPackage(path, expectedName, &package);
  if (result.outcome == Outcome::kCannotOpen) return result;
  observer.OnHeaderChecked(result.header, result.headerFault);
  if (result.outcome == Outcome::kExtracted && !ExtractContents(package, destination, observer, options))
    result.outcome = Outcome::kCancelled;
  return result;
}

bool ExtractContents(platform::File& package, const std::wstring& destination, Observer& observer,
                     const Options& options) {
  return Extraction(package, destination, observer, options).Run();
}

}  // namespace package_engine
