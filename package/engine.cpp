#include "package/engine.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

#include "package/entry_path.h"
#include "package/file_times.h"
#include "package/package_path.h"
#include "package/record_walker.h"
#include "package/size_index.h"
#include "package/stream_decoder.h"
#include "package/temp_files.h"

namespace package_engine {
namespace {

// Whole percent of the package's bytes read, header and records included;
// told only when it changes, so a package makes at most 101 reports.
class Progress {
 public:
  Progress(Observer& observer, std::uint64_t total) : observer_(observer), total_(total) {}

  void Report(const RecordWalker& walker, const PackageFileRecord& record) {
    if (total_ == 0) return;
    const auto at = std::min(walker.Position(), total_);
    const auto percent = static_cast<std::int32_t>(static_cast<double>(at) * 100.0 / static_cast<double>(total_));
    if (percent == last_) return;
    last_ = percent;
    observer_.OnProgress(percent, record);
  }

 private:
  Observer& observer_;
  std::uint64_t total_;
  std::int32_t last_ = -1;
};

[[noreturn]] void Fail(Observer& observer, ErrorKind kind, const std::wstring& path, FileError error) {
  observer.OnError(kind, path);
  throw error;
}

// An entry being decoded, or decoded and waiting for its commit, in its
// temporary file beside the target. Until the commit moves it over the target
// the temporary file is removed on every way out (a failure, a cancel, an
// exception), so the target is replaced whole or not at all.
class StagedEntry {
 public:
  explicit StagedEntry(platform::File file) : file_(std::move(file)), path_(file_.Path()) {}
  StagedEntry(StagedEntry&& other) noexcept
      : file_(std::move(other.file_)), path_(std::exchange(other.path_, {})), written_(other.written_) {}
  StagedEntry& operator=(StagedEntry&&) = delete;
  StagedEntry(const StagedEntry&) = delete;
  StagedEntry& operator=(const StagedEntry&) = delete;
  ~StagedEntry() { Discard(); }

  const std::wstring& path() const { return path_; }
  std::uint64_t written() const { return written_; }

  void Write(const unsigned char* data, std::size_t size) {
    file_.Write(data, size);
    written_ += size;
  }
  // Raises the late write errors that only the close reports.
  void Close() { file_.Close(); }
  void Discard() noexcept {
    if (path_.empty()) return;
    file_ = platform::File();  // Windows removes no open file
    platform::RemoveFile(path_);
    path_.clear();
  }
  // The file has been moved over its target and is no longer ours to remove.
  void Committed() { path_.clear(); }

 private:
  platform::File file_;
  std::wstring path_;
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

// Refuses what must not be written before anything is.
void CheckEntry(const PackageFileRecord& record, const package_path::EntryPaths& paths, Observer& observer) {
  const std::wstring folder = record.FolderWithSeparator();
  const std::wstring name = record.Name();
  if (!entry_path::IsSafe(folder, name))
    Fail(observer, ErrorKind::kUnsafePath, folder + name, FileError(FileError::kBadPath, -1, folder + name));
  if (record.FileSize() < 0)
    Fail(observer, ErrorKind::kDamaged, paths.file, FileError(FileError::kDamaged, -1, paths.file));
}

// Creates the entry's folder; the first time a run writes into a folder, the
// temporary files that a killed run left there go.
void PrepareFolder(const package_path::EntryPaths& paths, std::set<std::wstring>& prepared, Observer& observer) {
  if (!platform::CreateFolderTree(paths.folder))
    Fail(observer, ErrorKind::kFolderNotCreated, paths.folder, FileError(FileError::kBadPath, -1, paths.folder));
  if (prepared.insert(paths.folder).second) temp_files::RemoveLeftovers(paths.folder);
}

// A target that cannot be replaced is refused before anything is decoded,
// reported as the open of the output file always was.
void CheckTarget(const package_path::EntryPaths& paths, Observer& observer) {
  FileError error;
  if (!platform::CanReplace(paths.file, &error)) Fail(observer, ErrorKind::kOutputNotOpened, paths.file, error);
}

// Decodes the entry into a new temporary file in its folder and closes it.
// nullopt when the observer asked to stop; the temporary file is gone then.
std::optional<StagedEntry> DecodeEntry(RecordWalker& walker, const PackageFileRecord& record,
                                       const package_path::EntryPaths& paths, DecodeWorkspace& work, Progress& progress,
                                       Observer& observer) {
  platform::File file;
  FileError createError;
  if (!temp_files::Create(paths.folder, &file, &createError))
    Fail(observer, ErrorKind::kOutputNotOpened, paths.file,
         FileError(createError.cause(), createError.osError(), paths.file));
  StagedEntry staged(std::move(file));

  StreamState state = StreamState::kComplete;
  try {
    state = DecodeStream(
        walker, work, [&](const unsigned char* data, std::size_t size) { staged.Write(data, size); },
        [&] {
          progress.Report(walker, record);
          return !observer.StopRequested();
        });
    if (state == StreamState::kComplete) staged.Close();
  } catch (const FileError& error) {
    // The temporary name means nothing to the user: the error names the file being installed.
    if (error.fileName() != staged.path()) throw;
    throw FileError(error.cause(), error.osError(), paths.file);
  }
  if (state == StreamState::kStopped) return std::nullopt;
  if (state != StreamState::kComplete) {
    staged.Discard();
    if (state == StreamState::kNoDecoder)
      Fail(observer, ErrorKind::kDecoderUnavailable, paths.file, FileError(FileError::kGeneric, -1, paths.file));
    Fail(observer, ErrorKind::kDamaged, paths.file, FileError(FileError::kDamaged, -1, paths.file));
  }
  return staged;
}

// Moves the decoded file over the target in one step, then gives it its
// times: after the move, since NTFS may carry the replaced file's creation
// time over to the new one.
void CommitEntry(StagedEntry staged, const PackageFileRecord& record, const package_path::EntryPaths& paths,
                 Observer& observer) {
  if (!platform::MoveReplacing(staged.path(), paths.file)) {
    const platform::ErrorCode code = platform::LastError();
    staged.Discard();
    Fail(observer, ErrorKind::kOutputNotOpened, paths.file,
         FileError(platform::CauseFromError(code), code, paths.file));
  }
  staged.Committed();
  ApplyTimes(record, paths.file);
  observer.OnEntryFinished(paths.file, staged.written());
}

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
  if (result.outcome == Outcome::kExtracted) result.outcome = ExtractContents(package, destination, observer, options);
  return result;
}

Outcome ExtractContents(platform::File& package, const std::wstring& destination, Observer& observer,
                        const Options& options) {
  RecordWalker walker(package, package.Position(), package.Length());
  // The index behind the entries is not extracted, so the bar ends where they do.
  const size_index::SizeIndex index = size_index::Read(package);
  Progress progress(observer, index.IsValid() ? index.contentsEnd : walker.Length());
  DecodeWorkspace work(options.buffers);
  std::set<std::wstring> preparedFolders;
  PackageFileRecord record;
  while (walker.Next(&record)) {
    if (observer.StopRequested()) return Outcome::kCancelled;
    const package_path::EntryPaths paths = package_path::Join(destination, record.Folder(), record.Name());
    observer.OnEntryStarted(record, paths.file);
    CheckEntry(record, paths, observer);
    PrepareFolder(paths, preparedFolders, observer);
    CheckTarget(paths, observer);
    std::optional<StagedEntry> staged = DecodeEntry(walker, record, paths, work, progress, observer);
    if (!staged) return Outcome::kCancelled;
    CommitEntry(std::move(*staged), record, paths, observer);
  }
  return Outcome::kExtracted;
}

}  // namespace package_engine
