// What stays on the machine after a setup run, so that the maps can be found
// and removed later: the setup copy and the install record in the setup's
// own folder, and the entry in Installed apps. Kept outside the destination,
// which may be another drive or a share.
//
//   %ProgramFiles%\Varnholt\Setup\Tessavo.exe          the setup, byte for byte
//   %ProgramFiles%\Varnholt\Setup\InstallRecord.txt    the install record
//   HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnholtMaps
//
// The entry sits in the same registry view as GeoPath: a 32-bit setup on a
// 64-bit system writes both where 32-bit programs keep theirs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/install_record.h"
#include "platform/platform.h"

namespace app {

class InstallLog;

inline constexpr wchar_t kUninstallKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VarnholtMaps";
inline constexpr wchar_t kSetupCopyName[] = L"Tessavo.exe";
inline constexpr wchar_t kInstallRecordName[] = L"InstallRecord.txt";

struct SetupPlace {
  std::wstring folder;  // with its trailing separator
  std::wstring SetupCopy() const { return folder + kSetupCopyName; }
  std::wstring Record() const { return folder + kInstallRecordName; }
  // The setup folder and its parent, innermost first: what goes, when empty,
  // with the last of the maps.
  std::vector<std::wstring> Folders() const;
};

// "<Program Files>\Varnholt\Setup\"; nullopt when the system names no
// program-files folder.
std::optional<SetupPlace> DefaultSetupPlace();

// What the version resource says of the product.
struct ProductFacts {
  std::wstring name;
  std::wstring version;
  std::wstring publisher;
};

// The values of the Installed-apps entry.
struct UninstallEntry {
  std::wstring displayName;
  std::wstring displayVersion;
  std::wstring publisher;
  std::wstring installLocation;  // the last run's destination, with its trailing separator
  std::wstring uninstallString;  // "<setup copy>" /uninstall
  std::wstring quietUninstallString;
  std::wstring displayIcon;
  std::uint32_t estimatedSizeKiB = 0;
  std::wstring installDate;  // YYYYMMDD
};

// The entry for `record`; the size is its files' bytes in KiB, rounded up,
// at most what a DWORD holds.
UninstallEntry MakeUninstallEntry(const ProductFacts& product, const SetupPlace& place, const InstallRecord& record,
                                  const std::wstring& lastDestination, const platform::LocalTimeOfDay& today);
// Every value, NoModify and NoRepair included; the system's code on failure.
platform::ErrorCode WriteUninstallEntry(const UninstallEntry& entry);
// Only the size, for a record that lost some of its files.
platform::ErrorCode UpdateUninstallEntrySize(const InstallRecord& record);
platform::ErrorCode DeleteUninstallEntry();

// Keeps the install record during an installing run: the run tells it of
// every committed file and created folder, and it writes the record whole
// after each package, at least once a minute, and when the run ends. It
// lives on the run's thread.
class RecordKeeper {
 public:
  struct Hooks {
    // The entry, after the record, at the end of a run that committed a file.
    std::function<platform::ErrorCode(const InstallRecord& record, const std::wstring& destination)> writeEntry;
    // The setup's own program, copied beside the record once per run
    // unless the copy there already holds its bytes.
    std::wstring programPath;
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
  };

  RecordKeeper(SetupPlace place, InstallLog* log, Hooks hooks);

  // Reads the record there is (a damaged one is kept under another name and
  // a new one begun), copies the setup beside it (unless it is there
  // already, byte for byte) and writes the record as going, so that a run
  // killed before its first file is known as one. Nothing here stops the
  // installation; failures are logged.
  void RunStarted(const std::wstring& destination);
  void FoldersCreated(const std::wstring& package, const std::vector<std::wstring>& folders);
  // `outputPath` lies below the destination; its size and modified time are
  // read back from the disk, as the removal will compare them. Fresh until
  // the run ends.
  void FileCommitted(const std::wstring& package, const std::wstring& outputPath, std::uint64_t bytes,
                     std::uint32_t adler);
  // A file the run left as it was, with the entry's size and Adler-32 and the
  // target's last-write time: recorded for the package as if written, unless
  // it is already; `contentCompared` when its bytes were read and matched,
  // which makes a fresh one a plain file.
  void FileUnchanged(const std::wstring& package, const std::wstring& outputPath, std::uint64_t size,
                     std::uint64_t modified, std::uint32_t adler, bool contentCompared);
  void PackageEnded();
  void RunEnded();

  const InstallRecord& record() const { return record_; }
  // Whether the record, as this run found it, said its run had ended. A
  // damaged or unreadable record may hide a killed run: false. No record at
  // all: true, since every run writes one as it starts.
  bool previousRunEnded() const { return previousRunEnded_; }
  const std::wstring& destination() const { return destination_; }

 private:
  void Save();
  std::wstring RelativePath(const std::wstring& path) const;

  SetupPlace place_;
  InstallLog* log_;
  Hooks hooks_;
  std::wstring destination_;
  InstallRecord record_;
  bool started_ = false;
  // False when a record that would not read could not be set aside either.
  bool writable_ = true;
  bool previousRunEnded_ = true;
  // A file committed or found unchanged: the entry is written at the end.
  bool committedThisRun_ = false;
  bool dirty_ = false;
  std::chrono::steady_clock::time_point lastSaved_{};
};

inline constexpr std::chrono::seconds kRecordSaveInterval{60};

}  // namespace app
