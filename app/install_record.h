// The install record: what every setup run committed, kept beside the setup
// copy so that the maps can be removed later, and the rules by which they are
// removed.
//
// The file is UTF-8 text, one line per item, fields split by a tab, lines
// ended by CR LF (a bare LF and a leading byte-order mark are read as well,
// for a copy edited elsewhere):
//
//   Varnholt setup install record 1
//   run<TAB>ended                        or  run<TAB>going
//   destination<TAB>D:\Maps\             one per destination root, with its trailing separator
//   made<TAB>D:\Maps                     the root, or a parent of it, that the setup created
//   file<TAB>PACKAGE<TAB>SIZE<TAB>MODIFIED<TAB>ADLER<TAB>PATH
//   fresh<TAB>PACKAGE<TAB>SIZE<TAB>MODIFIED<TAB>ADLER<TAB>PATH
//   folder<TAB>PACKAGE<TAB>PATH
//   destination<TAB>E:\More maps\       a second destination
//   ...
//   end
//
// - The first line names the format and its version; another version is not
//   read.
// - "run ended" says the run that wrote the record had ended (finished,
//   failed or cancelled); "going" that it was still running when it wrote it.
// - The file and folder lines belong to the destination line above them.
//   SIZE is the byte count, MODIFIED the last-write time in 100 ns units since
//   1601-01-01 UTC, both decimal; ADLER the Adler-32 of the contents as eight
//   hex digits (00000001 for an empty file). PATH lies below the destination,
//   PACKAGE is the package's name (its GUID). A folder line names a folder the
//   setup created and the package whose run created it.
// - A fresh line is a file line for a file committed by a run that had not
//   ended when the record was written. New files are not flushed, so after a
//   power cut such a file may have its size and times but not its data: it
//   is trusted again only once its bytes were read and matched, or its run
//   ended. The removal takes it as a file.
// - "end" closes the record, so that a record cut short is told apart.
//
// Nothing is escaped: a path or package name with a tab, CR, LF or any other
// control character is refused (Windows allows none of them in names). Paths
// below a destination must stay below it: no empty, "." or ".." part, no
// leading separator, no drive.
//
// A damaged record (cut short, a line that does not read, another version,
// text that is not UTF-8) is read as nothing at all, with the line and the
// reason: part of a record is not safe to remove by, since a lost line may be
// the one saying that another package still needs a file. Uninstall then
// removes nothing and fails, naming the file, the line and the reason; an
// installing run keeps the damaged file under another name for the
// administrator and begins a new record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace app {

struct RecordedFile {
  std::wstring package;
  std::wstring path;  // below the destination
  std::uint64_t size = 0;
  std::uint64_t modified = 0;  // FILETIME units, as platform::FileTimes
  std::uint32_t adler = 1;
  // Committed by a run that had not ended ("fresh" in the text).
  bool fresh = false;
  bool operator==(const RecordedFile&) const = default;
};

struct RecordedFolder {
  std::wstring package;
  std::wstring path;  // below the destination
  bool operator==(const RecordedFolder&) const = default;
};

struct RecordedDestination {
  std::wstring root;  // with its trailing separator
  std::vector<RecordedFile> files;
  std::vector<RecordedFolder> folders;
  // The root itself and those of its parents that a run created for it,
  // full paths, innermost first: they go, when empty, with the last of the
  // destination's files and folders.
  std::vector<std::wstring> made;
  bool operator==(const RecordedDestination&) const = default;
};

class InstallRecord {
 public:
  bool ended = false;
  std::vector<RecordedDestination> destinations;

  // A file the run committed. The package's earlier entry for the same path
  // in that destination takes the new values; other packages' entries for it
  // stay. False (nothing recorded) for a name or path the record refuses.
  // Every entry for the path takes `fresh` with the values: they all describe
  // the one file on the disk. Fresh commits of this record's run become
  // plain files at EndRun.
  bool RecordCommitted(const std::wstring& package, const std::wstring& destination, const std::wstring& relPath,
                       std::uint64_t size, std::uint64_t modified, std::uint32_t adler, bool fresh = false);
  // The bytes of the file at the path were read and matched: none of its
  // entries is fresh any more.
  void RecordContentChecked(const std::wstring& destination, const std::wstring& relPath);
  // The run has ended: what it committed fresh is a plain file now; files an
  // earlier run left fresh, and not committed or checked since, stay fresh.
  void EndRun();
  // A folder the run created, once per package.
  bool RecordFolderCreated(const std::wstring& package, const std::wstring& destination, const std::wstring& relPath);
  // The destination root, or a parent of it, that a run created. False for
  // any other folder, and for a drive or the file system's root.
  bool RecordDestinationMade(const std::wstring& destination, const std::wstring& folder);

  // Every package's entry for the path, in record order; empty for none.
  std::vector<const RecordedFile*> FilesAt(const std::wstring& destination, const std::wstring& relPath) const;

  bool Empty() const;
  // The packages with at least one file or folder, sorted.
  std::set<std::wstring> Packages() const;
  // The bytes the files of `packages` take (all when nullopt), a file shared
  // by two of them counted once.
  std::uint64_t Bytes(const std::optional<std::set<std::wstring>>& packages = std::nullopt) const;

  bool operator==(const InstallRecord& other) const {
    return ended == other.ended && destinations == other.destinations;
  }

 private:
  RecordedDestination& DestinationFor(const std::wstring& root);
  const RecordedDestination* FindDestination(const std::wstring& root) const;

  // Where each path's file entries are in a destination, by the path as the
  // system compares names, so that a run of a million files records each in
  // constant time. Rebuilt when a list changed size behind its back.
  struct FileIndex {
    std::size_t count = 0;
    std::unordered_map<std::wstring, std::vector<std::size_t>> positions;
    // The entries this run made fresh, by position; lost with a rebuild,
    // which only leaves them fresh.
    std::vector<bool> freshThisRun;
  };
  FileIndex& IndexOf(std::size_t destination) const;
  mutable std::vector<FileIndex> index_;
};

// Whether two paths name the same file the way the system compares names
// (without case on Windows, where either separator counts).
bool SamePath(const std::wstring& a, const std::wstring& b);
// Whether `path` lies below `folder`, names compared as SamePath does.
bool IsBelow(const std::wstring& folder, const std::wstring& path);
// `path` below `destination` (which ends in a separator) as the record keeps
// it; empty when it does not lie below it.
std::wstring PathBelow(const std::wstring& destination, const std::wstring& path);

std::string SerializeInstallRecord(const InstallRecord& record);

struct RecordReading {
  enum class Status {
    kRead,
    kMissing,     // no record: nothing is installed
    kUnreadable,  // the file is there but does not open or read; `error` says why
    kDamaged,     // `line` (1-based; 0 for the whole file) and `reason` say where and why
  };
  Status status = Status::kMissing;
  InstallRecord record;  // empty unless kRead
  std::size_t line = 0;
  std::wstring reason;
  FileError error;
};

RecordReading ParseInstallRecord(const std::string& text);

// Reads the record at `path`.
RecordReading ReadInstallRecord(const std::wstring& path);
// Replaces the record at `path` whole: written to a temporary file beside it,
// flushed, moved over it. False with the cause in *error; the earlier record
// then stays as it was.
bool WriteInstallRecord(const std::wstring& path, const InstallRecord& record, FileError* error);

// ---------------------------------------------------------------------------
// Removal.

// What the disk holds at a path: a regular file's size and last-write time.
struct DiskFile {
  std::uint64_t size = 0;
  std::uint64_t modified = 0;
};
// nullopt for nothing there, a folder or anything else that is not a file.
using DiskLook = std::function<std::optional<DiskFile>(const std::wstring& path)>;
// The disk as the platform layer sees it.
std::optional<DiskFile> LookAtDisk(const std::wstring& path);

// One file or folder to remove, with the entries that go with it, so that a
// removal that stops can put back what it did not remove (RestoreEntries).
struct PlannedRemoval {
  std::wstring destination;
  std::wstring path;  // the full path
  std::vector<RecordedFile> files;
  std::vector<RecordedFolder> folders;
  bool made = false;  // the destination root or a parent the setup created
};

struct RemovalPlan {
  // Recorded and still as written: remove them. A file already gone is not
  // listed and leaves the record.
  std::vector<PlannedRemoval> files;
  // Changed since written (size or time), or reached through a link or
  // junction below the destination: kept, named in the log, and no longer
  // recorded, since they are the user's now. A recorded folder behind a link
  // is not planned at all.
  std::vector<std::wstring> changedFiles;
  // Kept because a package that stays still records them.
  std::vector<std::wstring> sharedFiles;
  // Folders the setup created that no staying package records, innermost
  // first; each goes only if it is empty when its turn comes, and leaves the
  // record either way (a folder kept for the user's files is theirs).
  std::vector<PlannedRemoval> folders;
  // The record once the plan has run to its end.
  InstallRecord remaining;
};

// Plans the removal of `packages` (every recorded one when nullopt). Nothing
// outside the record is ever in the plan.
RemovalPlan PlanRemoval(const InstallRecord& record, const std::optional<std::set<std::wstring>>& packages,
                        const DiskLook& look);

// Puts the entries of a planned removal that did not happen back into
// `record` (the plan's remaining record, when a removal stops).
void RestoreEntries(InstallRecord* record, const PlannedRemoval& removal);

}  // namespace app
