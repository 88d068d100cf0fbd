// The setup's log: a UTF-8 file, one line per event, each with the local
// time, and the lines themselves, so that every text of the log is found
// here.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/destination_check.h"
#include "app/install_record.h"
#include "app/installation_run.h"
#include "app/space_check.h"
#include "package/engine.h"
#include "platform/platform.h"

namespace app {

class InstallLog {
 public:
  InstallLog() = default;
  // Writes out the lines still held.
  ~InstallLog();
  InstallLog(const InstallLog&) = delete;
  InstallLog& operator=(const InstallLog&) = delete;

  // Creates or truncates the file, readable by others while the setup runs
  // (an administrator watching it); false with the system's code in *error.
  // Lines still held for an earlier file go there first.
  bool Open(const std::wstring& path, platform::ErrorCode* error);
  bool IsOpen() const;
  // Prefixes "YYYY-MM-DD HH:MM:SS.mmm " and ends the line with "\r\n". The UI
  // thread and the worker both log; a failing write never stops the
  // installation. Does nothing when the log is not open.
  void Write(const std::wstring& line);

  // The framing, the same in every mode: the start (version and command
  // line), the folders and the choice (the plan writes these; the wizard
  // when its run starts), and the end with the exit code.
  void SetupStarted(const std::wstring& version, const std::vector<std::wstring>& arguments);
  void Folders(const std::wstring& packageFolder, const std::wstring& destinationFolder);
  void ChosenPackages(const std::vector<std::wstring>& packages);
  void SetupEnded(int exitCode);

  // The unattended plan's findings.
  void LeftOut(const std::wstring& file);
  void UnknownPackage(const std::wstring& name, const std::wstring& packageFolder);
  void NoValidPackage(const std::wstring& packageFolder);
  // The destination and both sizes in bytes; an error when the copy cannot fit.
  void Space(const std::wstring& destination, const SpaceCheck& check);
  void DestinationNotWritable(const std::wstring& destination, const DestinationCheck& check);
  void QuietRunFailed(const std::wstring& what);

  // The run. The lines of single files come by the thousand: they are held
  // in memory (stamped when they happen) and written together, with the
  // next line of any other kind, once kHeldBytes have gathered, with a file
  // line or WriteDueLines once the first of them is kHeldFor old, or when
  // the log closes. A crash may lose the file lines of its last moments; the
  // install record still has every committed file.
  void PackageStarted(const std::wstring& name, const std::wstring& path);
  void FileWritten(const std::wstring& path, std::uint64_t bytes);
  // Left as it was: still as the setup wrote it, or its bytes checked out.
  void FileUnchanged(const std::wstring& path);
  // Written by /repair: it was missing or its bytes differed.
  void FileRepaired(const std::wstring& path);
  // Writes the held lines once the first of them is kHeldFor old: the run
  // calls it as its bars move, so that none waits long behind a large file.
  void WriteDueLines();
  // A run that skips unchanged files or repairs, at a package it cannot
  // check: every file of it is written.
  void NoSizeIndex(const std::wstring& name, const std::wstring& path);
  // The files and bytes written by the attempt that ended the package, the
  // time of all; the files it left unchanged when there were any.
  void PackageEnded(const std::wstring& name, AttemptOutcome outcome, std::uint64_t files, std::uint64_t bytes,
                    std::chrono::steady_clock::duration elapsed, std::uint64_t unchangedFiles = 0);
  void CancelledBefore(const std::wstring& name);
  // A package that no longer opens or checks out, which the wizard passes over.
  void PassedOver(const std::wstring& name, const std::wstring& path, const package::Result& result);
  // The same, as the failure of an unattended run.
  void NotExtracted(const std::wstring& name, const std::wstring& path, const package::Result& result);
  void FileFailure(const std::wstring& name, const std::wstring& path, const FileError& error);
  void OtherFailure(const std::wstring& name, const std::wstring& path, const std::wstring& message);
  void Answer(FileErrorAnswer answer);
  void RunFailedUnexpectedly();
  void RunFailedUnexpectedlyAfterCancel();
  void RunCouldNotStart(const std::wstring& failure);
  void DestinationNotRecorded(RunEnd end);
  void DestinationRecorded(const std::wstring& destination, bool recorded);
  // The user's answer to the copy page's Cancel.
  void CancelAnswered(bool stop);

  // The install record, the setup copy and the Installed-apps entry.
  void RecordNotWritten(const FileError& error);
  // A record that did not read, moved to `aside` (empty: it could not be).
  void RecordSetAside(const std::wstring& path, const RecordReading& reading, const std::wstring& aside);
  void SetupCopyNotMade(const FileError& error);
  void NoSetupFolder();
  void UninstallEntryWritten(const std::wstring& key, platform::ErrorCode code);

  // The removal.
  void NothingInstalled(const std::wstring& recordPath);
  void PackageNotInstalled(const std::wstring& name, const std::wstring& recordPath);
  void RecordUnreadable(const std::wstring& path, const RecordReading& reading);
  void RemovalPlanned(const std::vector<std::wstring>& packages, const std::vector<std::wstring>& destinations,
                      std::uint64_t bytes);
  void FileRemoved(const std::wstring& path);
  void FileRemovedAtRestart(const std::wstring& path);
  void FileKeptChanged(const std::wstring& path);
  void FileKeptShared(const std::wstring& path);
  void FileNotRemoved(const std::wstring& path, platform::ErrorCode code);
  void FolderRemoved(const std::wstring& path);
  void FolderKept(const std::wstring& path);
  void RemovalCancelled();
  void RemovalFailedUnexpectedly();
  // What went with the last of the maps: GeoPath, the entry, the setup copy.
  void Forgotten(const std::wstring& what, platform::ErrorCode code);
  void SetupCopyRemovedAfterExit(const std::wstring& path, bool started);

 private:
  static constexpr std::size_t kHeldBytes = 64 * 1024;
  static constexpr std::chrono::milliseconds kHeldFor{250};

  // `held`: a file's line, which may wait for others.
  void Put(const std::wstring& line, bool held);
  // Under the lock.
  void WriteHeld();

  mutable std::mutex mutex_;
  platform::File file_;
  std::string held_;
  std::chrono::steady_clock::time_point heldSince_;
};

// Why a package was not extracted, naming it and its file: the log's line,
// and the question an unattended run answers.
std::wstring NotExtractedText(const std::wstring& name, const std::wstring& path, const package::Result& result);

}  // namespace app
