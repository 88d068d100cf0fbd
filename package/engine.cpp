#include "package/engine.h"

#include <algorithm>

#include "package/entry_path.h"
#include "package/file_times.h"
#include "package/package_path.h"
#include "package/record_walker.h"
#include "package/size_index.h"
#include "package/stream_decoder.h"

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

// Refuses what must not be written before anything is.
void CheckEntry(const PackageFileRecord& record, const package_path::EntryPaths& paths, Observer& observer) {
  const std::wstring folder = record.FolderWithSeparator();
  const std::wstring name = record.Name();
  if (!entry_path::IsSafe(folder, name))
    Fail(observer, ErrorKind::kUnsafePath, folder + name, FileError(FileError::kBadPath, -1, folder + name));
  if (record.FileSize() < 0)
    Fail(observer, ErrorKind::kDamaged, paths.file, FileError(FileError::kDamaged, -1, paths.file));
}

void WriteEntry(RecordWalker& walker, const PackageFileRecord& record, const package_path::EntryPaths& paths,
                DecodeWorkspace& work, Progress& progress, Observer& observer) {
  if (!platform::CreateFolderTree(paths.folder))
    Fail(observer, ErrorKind::kFolderNotCreated, paths.folder, FileError(FileError::kBadPath, -1, paths.folder));
  EntryOutput output(paths.file);
  FileError openError;
  if (!output.Open(&openError)) Fail(observer, ErrorKind::kOutputNotOpened, paths.file, openError);

  StreamState state = StreamState::kComplete;
  try {
    state = DecodeStream(
        walker, work, [&](const unsigned char* data, std::size_t size) { output.Write(data, size); },
        [&] { progress.Report(walker, record); });
    if (state == StreamState::kComplete) output.Commit();
  } catch (const FileError&) {
    output.KeepPartial();
    throw;
  }
  if (state == StreamState::kNoDecoder)
    Fail(observer, ErrorKind::kDecoderUnavailable, paths.file, FileError(FileError::kGeneric, -1, paths.file));
  if (state != StreamState::kComplete)
    Fail(observer, ErrorKind::kDamaged, paths.file, FileError(FileError::kDamaged, -1, paths.file));
  ApplyTimes(record, paths.file);
  observer.OnEntryFinished(paths.file, output.written());
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
  const Result result = OpenPackage(path, expectedName, &package);
  if (result.outcome == Outcome::kCannotOpen) return result;
  observer.OnHeaderChecked(result.header, result.headerFault);
  if (result.outcome == Outcome::kExtracted) ExtractContents(package, destination, observer, options);
  return result;
}

void ExtractContents(platform::File& package, const std::wstring& destination, Observer& observer,
                     const Options& options) {
  RecordWalker walker(package, package.Position(), package.Length());
  // The index behind the entries is not extracted, so the bar ends where they do.
  const size_index::SizeIndex index = size_index::Read(package);
  Progress progress(observer, index.IsValid() ? index.contentsEnd : walker.Length());
  DecodeWorkspace work(options.buffers);
  PackageFileRecord record;
  while (walker.Next(&record)) {
    const package_path::EntryPaths paths = package_path::Join(destination, record.Folder(), record.Name());
    observer.OnEntryStarted(record, paths.file);
    CheckEntry(record, paths, observer);
    WriteEntry(walker, record, paths, work, progress, observer);
  }
}

}  // namespace package_engine
