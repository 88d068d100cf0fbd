#include "package/entry_steps.h"

#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "package/entry_path.h"
#include "package/extraction_error.h"
#include "package/file_times.h"

namespace package {
namespace {

[[noreturn]] void Fail(ErrorKind kind, const std::wstring& path, FileError error) {
  throw ExtractionError(kind, path, std::move(error));
}

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

void Count(const DecodePlan& plan, std::atomic<std::uint64_t> DecodeCounts::*counter) {
  if (plan.counts) (plan.counts->*counter).fetch_add(1, std::memory_order_relaxed);
}

// Tells what streaming the entry chunk by chunk would have told: the
// progress after each chunk read, at the same positions, and once more after
// the bytes behind the stream were stepped over, asking about a stop each
// time. False on a stop.
bool ReplayChunks(const EntryReader& reader, std::uint64_t consumed, std::size_t chunk, const PackageFileRecord& record,
                  Progress& progress, Observer& observer) {
  const std::uint64_t start = reader.position();
  const auto size = static_cast<std::uint64_t>(reader.dataSize());
  std::uint64_t read = 0;
  while (read < consumed) {
    read = std::min<std::uint64_t>(read + chunk, size);
    progress.ReportAt(start + read, record);
    if (observer.StopRequested()) return false;
  }
  if (read == size) return true;
  progress.ReportAt(start + size, record);
  return !observer.StopRequested();
}

// The whole-entry path: nullopt leaves the entry, its reader and its empty
// temporary file to the streaming path, which then meets whatever went wrong
// with the progress it tells on the way.
std::optional<StreamState> DecodeWhole(const EntryReader& reader, const PackageFileRecord& record,
                                       std::uint64_t unpackedSize, DecodeWorkspace& work, TempFile& temp,
                                       Progress& progress, Observer& observer) {
  const auto decoded = work.whole.Decode(reader, unpackedSize);
  if (!decoded) return std::nullopt;
  try {
    temp.Write(decoded->bytes.data(), decoded->bytes.size());
    temp.adler32 = decoded->adler32;
  } catch (const FileError&) {
    temp.file.Truncate(0);
    temp.file.Seek(0, platform::File::Origin::kBegin);
    temp.written = 0;
    return std::nullopt;
  }
  return ReplayChunks(reader, decoded->consumed, work.input.size(), record, progress, observer) ? StreamState::kComplete
                                                                                                : StreamState::kStopped;
}

}  // namespace

void CheckEntry(const PackageFileRecord& record, const package_path::EntryPaths& paths) {
  const std::wstring folder = record.FolderWithSeparator();
  const std::wstring name = record.Name();
  if (!entry_path::IsSafe(folder, name))
    Fail(ErrorKind::kUnsafePath, folder + name, FileError(FileError::kBadPath, -1, folder + name));
  if (record.FileSize() < 0) Fail(ErrorKind::kDamaged, paths.file, FileError(FileError::kDamaged, -1, paths.file));
}

EntryFacts LookAtEntry(const unsigned char (&checkValue)[kCheckValueSize], const PackageFileRecord& record,
                       const package_path::EntryPaths& paths, std::uint64_t unpackedSize) {
  EntryFacts facts;
  facts.outputPath = paths.file;
  facts.size = unpackedSize;
  // What ApplyTimes gives the file.
  const std::uint64_t modified = record.ModifiedDate();
  if (modified != 0 && file_times::IsRepresentable(modified)) facts.modified = file_times::ToWholeSeconds(modified);
  facts.adler32 = (std::uint32_t{checkValue[0]} << 24) | (std::uint32_t{checkValue[1]} << 16) |
                  (std::uint32_t{checkValue[2]} << 8) | std::uint32_t{checkValue[3]};
  if (const std::optional<platform::FileLook> look = platform::LookAtFile(paths.file))
    facts.target = EntryFacts::Target{look->size, look->lastWrite};
  return facts;
}

Comparison CompareContent(const EntryFacts& facts, std::vector<unsigned char>& buffer, Observer& observer) {
  // As large as the tool's input chunks: few calls, and a stop is heard soon.
  constexpr std::size_t kChunk = 256 * 1024;
  platform::File file;
  if (!file.Open(facts.outputPath, platform::File::Mode::kReadShareRead)) return Comparison::kDifferent;
  try {
    if (file.Length() != facts.size) return Comparison::kDifferent;
    if (buffer.size() < kChunk) buffer.resize(kChunk);
    std::uint32_t adler = 1;
    std::uint64_t read = 0;
    // No more than the size just found is asked for: a small file takes one
    // read, not a second and third one to find its end.
    do {
      if (observer.StopRequested()) return Comparison::kStopped;
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), facts.size - read));
      const std::size_t got = want == 0 ? 0 : file.Read(buffer.data(), want);
      if (got == 0) break;
      adler = libdeflate_adler32(adler, buffer.data(), got);
      read += got;
    } while (read < facts.size);
    return read == facts.size && adler == facts.adler32 ? Comparison::kSame : Comparison::kDifferent;
  } catch (const FileError&) {
    // A spot that cannot be read is what writing the file again mends.
    return Comparison::kDifferent;
  }
}

std::vector<std::wstring> MissingFolders(std::wstring folder) {
  while (folder.size() > 1 && folder.back() == platform::kPathSeparator)
    folder.pop_back();
  std::vector<std::wstring> missing;
  while (!folder.empty() && !platform::IsFolder(folder)) {
    missing.push_back(folder);
    const auto cut = folder.find_last_of(platform::kPathSeparator);
    if (cut == std::wstring::npos || cut == 0) break;
    folder.resize(cut);
  }
  return {missing.rbegin(), missing.rend()};
}

void PrepareFolder(const package_path::EntryPaths& paths, FolderSet& prepared, const temp_files::OwnFiles& own) {
  if (!platform::CreateFolderTree(paths.folder))
    Fail(ErrorKind::kFolderNotCreated, paths.folder, FileError(FileError::kBadPath, -1, paths.folder));
  // A spelling met before needs no look at the disk: most entries share
  // their folder with the one before.
  if (!prepared.insert(paths.folder).second) return;
  const std::optional<platform::FileIdentity> identity = platform::IdentityOf(paths.folder);
  if (!identity || prepared.insert(*identity).second) temp_files::RemoveLeftovers(paths.folder, own);
}

void RemoveFolders(const std::vector<std::wstring>& made) noexcept {
  for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
    platform::RemoveEmptyFolder(*folder);
}

bool CheckTarget(const package_path::EntryPaths& paths) {
  FileError error;
  bool exists = false;
  if (!platform::CanReplace(paths.file, &error, &exists)) Fail(ErrorKind::kOutputNotOpened, paths.file, error);
  return exists;
}

StagedFile DecodeEntry(EntryReader& reader, const PackageFileRecord& record, const package_path::EntryPaths& paths,
                       const DecodePlan& plan, DecodeWorkspace& work, Progress& progress, temp_files::OwnFiles& own,
                       Observer& observer) {
  auto created = std::make_unique<TempFile>();
  FileError createError;
  if (!temp_files::Create(paths.folder, &created->file, &createError, own))
    Fail(ErrorKind::kOutputNotOpened, paths.file, FileError(createError.cause(), createError.osError(), paths.file));
  created->path = created->file.Path();
  StagedFile staged(created.release());
  TempFile& temp = *staged.Get();

  StreamState state = StreamState::kComplete;
  try {
    std::optional<StreamState> whole;
    if (plan.wholeSize) whole = DecodeWhole(reader, record, *plan.wholeSize, work, temp, progress, observer);
    if (whole) {
      state = *whole;
      Count(plan, &DecodeCounts::whole);
    } else {
      Count(plan, &DecodeCounts::streamed);
      state = DecodeStream(
          reader, work, [&](const unsigned char* data, std::size_t size) { temp.Write(data, size); },
          [&] {
            progress.Report(reader, record);
            return !observer.StopRequested();
          });
      // zlib holds the check value it verified at the stream's end.
      if (state == StreamState::kComplete && reader.dataSize() > 0) temp.adler32 = work.inflater.stream().adler;
    }
    if (state == StreamState::kComplete) {
      if (plan.replaces) {
        temp.file.Flush();
        Count(plan, &DecodeCounts::flushed);
      }
      temp.file.Close();
    }
  } catch (const FileError& error) {
    // The temporary name means nothing to the user: the error names the file being installed.
    if (error.fileName() != temp.path) throw;
    throw FileError(error.cause(), error.osError(), paths.file);
  }
  if (state == StreamState::kStopped) return StagedFile();
  if (state != StreamState::kComplete) {
    staged.Reset();
    if (state == StreamState::kNoDecoder)
      Fail(ErrorKind::kDecoderUnavailable, paths.file, FileError(FileError::kGeneric, -1, paths.file));
    Fail(ErrorKind::kDamaged, paths.file, FileError(FileError::kDamaged, -1, paths.file));
  }
  return staged;
}

void CommitEntry(StagedFile staged, const PackageFileRecord& record, const package_path::EntryPaths& paths,
                 const std::vector<std::wstring>& madeFolders, Observer& observer) {
  if (!platform::MoveReplacing(staged.Get()->path, paths.file)) {
    const platform::ErrorCode code = platform::LastError();
    staged.Reset();
    Fail(ErrorKind::kOutputNotOpened, paths.file, FileError(platform::CauseFromError(code), code, paths.file));
  }
  // Moved over the target: no longer ours to remove, only to free.
  const std::unique_ptr<TempFile> committed(staged.Release());
  ApplyTimes(record, paths.file);
  if (!madeFolders.empty()) observer.OnFoldersCreated(madeFolders);
  observer.OnEntryFinished(paths.file, committed->written, committed->adler32);
}

}  // namespace package
