#include "app/installed_setup.h"

#include <algorithm>
#include <cwchar>
#include <limits>
#include <vector>

#include "app/destination_check.h"
#include "app/install_log.h"
#include "platform/text.h"

namespace app {

namespace {

platform::ErrorCode SetString(platform::SettingsKey& key, const std::wstring& name, const std::wstring& value) {
  const std::vector<std::uint8_t> bytes = text::ToUtf16LeWithNul(value);
  return key.SetStringValue(name, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

std::uint32_t KiB(std::uint64_t bytes) {
  const std::uint64_t kib = bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(kib, std::numeric_limits<std::uint32_t>::max()));
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// The folder part of a path, with its separator.
std::wstring FolderOf(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(platform::kPathSeparator);
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

// Whether `copy` already holds the bytes of `program`, read side by side.
// A setup run again from the same medium then leaves its copy as it is:
// writing and flushing the same program again took a run that finds every
// file unchanged a third of its time. Anything that cannot be read differs.
bool SameBytes(const std::wstring& program, const std::wstring& copy) {
  try {
    platform::File a;
    platform::File b;
    if (!a.Open(program, platform::File::Mode::kReadShareRead) || !b.Open(copy, platform::File::Mode::kReadShareRead) ||
        a.Length() != b.Length())
      return false;
    constexpr std::size_t kChunk = 64 * 1024;
    std::vector<unsigned char> ours(kChunk);
    std::vector<unsigned char> theirs(kChunk);
    for (;;) {
      const std::size_t got = a.Read(ours.data(), kChunk);
      if (b.Read(theirs.data(), kChunk) != got || !std::equal(ours.begin(), ours.begin() + got, theirs.begin()))
        return false;
      if (got == 0) return true;
    }
  } catch (...) {
    return false;
  }
}

}  // namespace

std::vector<std::wstring> SetupPlace::Folders() const {
  std::wstring setup = folder;
  while (!setup.empty() && setup.back() == platform::kPathSeparator)
    setup.pop_back();
  std::wstring parent = FolderOf(setup);
  while (!parent.empty() && parent.back() == platform::kPathSeparator)
    parent.pop_back();
  std::vector<std::wstring> folders{setup};
  if (!parent.empty()) folders.push_back(parent);
  return folders;
}

std::optional<SetupPlace> DefaultSetupPlace() {
  const std::optional<std::wstring> programFiles = platform::ProgramFilesFolder();
  if (!programFiles || programFiles->empty()) return std::nullopt;
  const std::wstring separator(1, platform::kPathSeparator);
  std::wstring root = *programFiles;
  if (root.back() != platform::kPathSeparator) root += separator;
  return SetupPlace{root + L"Varnholt" + separator + L"Setup" + separator};
}

UninstallEntry MakeUninstallEntry(const ProductFacts& product, const SetupPlace& place, const InstallRecord& record,
                                  const std::wstring& lastDestination, const platform::LocalTimeOfDay& today) {
  UninstallEntry entry;
  entry.displayName = product.name;
  entry.displayVersion = product.version;
  entry.publisher = product.publisher;
  entry.installLocation = lastDestination;
  if (entry.installLocation.empty() || entry.installLocation.back() != platform::kPathSeparator)
    entry.installLocation += platform::kPathSeparator;
  entry.uninstallString = Quoted(place.SetupCopy()) + L" /uninstall";
  entry.quietUninstallString = entry.uninstallString + L" /quiet";
  entry.displayIcon = place.SetupCopy() + L",0";
  entry.estimatedSizeKiB = KiB(record.Bytes());
  wchar_t date[16];
  std::swprintf(date, sizeof date / sizeof date[0], L"%04d%02d%02d", today.year, today.month, today.day);
  entry.installDate = date;
  return entry;
}

platform::ErrorCode WriteUninstallEntry(const UninstallEntry& entry) {
  platform::SettingsKey key;
  if (const platform::ErrorCode code = key.OpenOrCreate(kUninstallKeyPath); code != platform::kErrorSuccess)
    return code;
  const std::pair<const wchar_t*, const std::wstring*> strings[] = {
      {L"DisplayName", &entry.displayName},
      {L"DisplayVersion", &entry.displayVersion},
      {L"Publisher", &entry.publisher},
      {L"InstallLocation", &entry.installLocation},
      {L"UninstallString", &entry.uninstallString},
      {L"QuietUninstallString", &entry.quietUninstallString},
      {L"DisplayIcon", &entry.displayIcon},
      {L"InstallDate", &entry.installDate},
  };
  for (const auto& [name, value] : strings)
    if (const platform::ErrorCode code = SetString(key, name, *value); code != platform::kErrorSuccess) return code;
  const std::pair<const wchar_t*, std::uint32_t> numbers[] = {
      {L"EstimatedSize", entry.estimatedSizeKiB},
      {L"NoModify", 1},
      {L"NoRepair", 1},
  };
  for (const auto& [name, value] : numbers)
    if (const platform::ErrorCode code = key.SetDwordValue(name, value); code != platform::kErrorSuccess) return code;
  return platform::kErrorSuccess;
}

platform::ErrorCode UpdateUninstallEntrySize(const InstallRecord& record) {
  platform::SettingsKey key;
  if (const platform::ErrorCode code = key.OpenOrCreate(kUninstallKeyPath); code != platform::kErrorSuccess)
    return code;
  return key.SetDwordValue(L"EstimatedSize", KiB(record.Bytes()));
}

platform::ErrorCode DeleteUninstallEntry() { return platform::SettingsKey::DeleteKey(kUninstallKeyPath); }

// ---------------------------------------------------------------------------

RecordKeeper::RecordKeeper(SetupPlace place, InstallLog* log, Hooks hooks)
    : place_(std::move(place)), log_(log), hooks_(std::move(hooks)) {}

void RecordKeeper::RunStarted(const std::wstring& destination) {
  started_ = true;
  destination_ = destination;
  committedThisRun_ = false;
  dirty_ = false;
  lastSaved_ = hooks_.now();
  InstallLog unlogged;
  InstallLog& log = log_ != nullptr ? *log_ : unlogged;

  if (!platform::CreateFolderTree(place_.folder)) {
    const platform::ErrorCode code = platform::LastError();
    log.RecordNotWritten(FileError(platform::CauseFromError(code), code, place_.folder));
  }
  RecordReading reading = ReadInstallRecord(place_.Record());
  previousRunEnded_ = reading.status == RecordReading::Status::kRead
                          ? reading.record.ended
                          : reading.status == RecordReading::Status::kMissing;
  record_ = reading.status == RecordReading::Status::kRead ? std::move(reading.record) : InstallRecord{};
  if (reading.status == RecordReading::Status::kDamaged || reading.status == RecordReading::Status::kUnreadable) {
    // Kept for the administrator: it may still tell what an earlier run left.
    const platform::LocalTimeOfDay now = platform::LocalTime();
    wchar_t stamp[32];
    std::swprintf(stamp, sizeof stamp / sizeof stamp[0], L"%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    const std::wstring aside = place_.folder + L"InstallRecord-damaged-" + stamp + L".txt";
    const bool keptAside = platform::MoveReplacing(place_.Record(), aside);
    log.RecordSetAside(place_.Record(), reading, keptAside ? aside : std::wstring());
    // A record that can neither be read nor moved is not written over.
    writable_ = keptAside;
  } else {
    writable_ = true;
  }
  record_.ended = false;
  for (const std::wstring& folder : TakeFoldersCreatedForDestinations())
    record_.RecordDestinationMade(destination_, folder);

  const std::wstring copy = place_.SetupCopy();
  if (!hooks_.programPath.empty() && !SamePath(hooks_.programPath, copy) && !SameBytes(hooks_.programPath, copy)) {
    FileError error;
    if (!platform::CopyFileWhole(hooks_.programPath, copy, &error)) log.SetupCopyNotMade(error);
  }
  // Files committed before the first save are not listed: the next run must
  // see that this one had not ended, to check such files by content.
  Save();
}

std::wstring RecordKeeper::RelativePath(const std::wstring& path) const { return PathBelow(destination_, path); }

void RecordKeeper::FoldersCreated(const std::wstring& package, const std::vector<std::wstring>& folders) {
  if (!started_) return;
  for (const std::wstring& folder : folders) {
    const std::wstring relative = RelativePath(folder);
    // The engine makes the root itself when nothing made it before.
    const bool recorded = relative.empty() ? record_.RecordDestinationMade(destination_, folder)
                                           : record_.RecordFolderCreated(package, destination_, relative);
    if (recorded) dirty_ = true;
  }
}

void RecordKeeper::FileCommitted(const std::wstring& package, const std::wstring& outputPath, std::uint64_t bytes,
                                 std::uint32_t adler) {
  if (!started_) return;
  const std::wstring relative = RelativePath(outputPath);
  // The times as the disk keeps them (a FAT drive rounds to two seconds):
  // the removal compares against what it will find.
  platform::FileTimes times;
  const std::uint64_t modified = platform::GetFileTimes(outputPath, &times) ? times.lastWrite : 0;
  if (relative.empty() ||
      !record_.RecordCommitted(package, destination_, relative, bytes, modified, adler, /*fresh=*/true))
    return;
  committedThisRun_ = true;
  dirty_ = true;
  if (hooks_.now() - lastSaved_ >= kRecordSaveInterval) Save();
}

void RecordKeeper::FileUnchanged(const std::wstring& package, const std::wstring& outputPath, std::uint64_t size,
                                 std::uint64_t modified, std::uint32_t adler, bool contentCompared) {
  if (!started_) return;
  const std::wstring relative = RelativePath(outputPath);
  if (relative.empty()) return;
  const RecordedFile* own = nullptr;
  for (const RecordedFile* file : record_.FilesAt(destination_, relative))
    if (file->package == package) own = file;
  // The run has these files in place as much as those it wrote.
  committedThisRun_ = true;
  if (own != nullptr && own->size == size && own->modified == modified && own->adler == adler) {
    if (!own->fresh || !contentCompared) return;
    record_.RecordContentChecked(destination_, relative);
  } else {
    // Not recorded for the package, or only its content matched (/repair):
    // it is the package's file as the disk holds it now. Its data was there
    // before this run, or has just been read: not fresh.
    if (!record_.RecordCommitted(package, destination_, relative, size, modified, adler)) return;
  }
  dirty_ = true;
  if (hooks_.now() - lastSaved_ >= kRecordSaveInterval) Save();
}

void RecordKeeper::PackageEnded() {
  if (started_ && dirty_) Save();
}

void RecordKeeper::RunEnded() {
  if (!started_) return;
  started_ = false;
  record_.EndRun();
  // Written as going when the run started: always written again.
  Save();
  if (!committedThisRun_ || !hooks_.writeEntry) return;
  const platform::ErrorCode code = hooks_.writeEntry(record_, destination_);
  if (log_ != nullptr) log_->UninstallEntryWritten(kUninstallKeyPath, code);
}

void RecordKeeper::Save() {
  lastSaved_ = hooks_.now();
  if (!writable_) return;
  FileError error;
  if (WriteInstallRecord(place_.Record(), record_, &error)) {
    dirty_ = false;
  } else if (log_ != nullptr) {
    log_->RecordNotWritten(error);
  }
}

}  // namespace app
