#include "app/install_log.h"

#include <cstdio>

#include "platform/text.h"

namespace app {

namespace {

std::wstring Joined(const std::vector<std::wstring>& items, const std::wstring& separator) {
  std::wstring text;
  for (const std::wstring& item : items)
    text += (text.empty() ? L"" : separator) + item;
  return text;
}

std::wstring SystemText(std::int64_t code) {
  if (code < 0) return L"none";
  std::wstring text = platform::SystemErrorText(static_cast<platform::ErrorCode>(code));
  return std::to_wstring(code) + L" (" + (text.empty() ? L"no text" : text) + L")";
}

std::wstring DescribeFileError(const FileError& error) {
  return L"file " + error.fileName() + L", cause " + std::to_wstring(static_cast<int>(error.cause())) +
         L", system code " + SystemText(error.osError()) + L": " + error.Text();
}

std::wstring ByteCount(std::uint64_t bytes) { return std::to_wstring(bytes) + L" bytes"; }

std::wstring Seconds(std::chrono::steady_clock::duration elapsed) {
  wchar_t text[32];
  std::swprintf(text, sizeof text / sizeof text[0], L"%.3f",
                std::chrono::duration_cast<std::chrono::duration<double>>(elapsed).count());
  return text;
}

// `value` in `width` digits, as "%0*d" writes one that fits.
void AppendDigits(std::string& out, int value, int width) {
  char digits[4];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

// "YYYY-MM-DD HH:MM:SS.mmm ", by hand: every file of a run has its line.
void AppendStamp(std::string& out, const platform::LocalTimeOfDay& now) {
  AppendDigits(out, now.year, 4);
  out += '-';
  AppendDigits(out, now.month, 2);
  out += '-';
  AppendDigits(out, now.day, 2);
  out += ' ';
  AppendDigits(out, now.hour, 2);
  out += ':';
  AppendDigits(out, now.minute, 2);
  out += ':';
  AppendDigits(out, now.second, 2);
  out += '.';
  AppendDigits(out, now.millisecond, 3);
  out += ' ';
}

const wchar_t* AnswerName(FileErrorAnswer answer) {
  switch (answer) {
    case FileErrorAnswer::kAbort: return L"Abort";
    case FileErrorAnswer::kRetry: return L"Retry";
    case FileErrorAnswer::kIgnore: return L"Ignore";
  }
  return L"?";
}

const wchar_t* OutcomeName(AttemptOutcome outcome) {
  switch (outcome) {
    case AttemptOutcome::kDone: return L"end";
    case AttemptOutcome::kIgnored: return L"ignored";
    case AttemptOutcome::kStopped: return L"stopped";
    case AttemptOutcome::kCancelled: return L"cancelled by the user";
    case AttemptOutcome::kRetry: break;  // never ends a package
  }
  return L"?";
}

}  // namespace

InstallLog::~InstallLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteHeld();
}

bool InstallLog::Open(const std::wstring& path, platform::ErrorCode* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteHeld();
  FileError failure;
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kCreateWriteShareRead, &failure)) {
    if (error != nullptr) *error = static_cast<platform::ErrorCode>(failure.osError());
    return false;
  }
  file_ = std::move(file);
  return true;
}

bool InstallLog::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_.IsOpen();
}

void InstallLog::Write(const std::wstring& line) { Put(line, false); }

void InstallLog::Put(const std::wstring& line, bool held) {
  // Stamped under the lock, so that the times never run backwards in the file.
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_.IsOpen()) return;
  const auto since = std::chrono::steady_clock::now();
  if (held_.empty()) heldSince_ = since;
  AppendStamp(held_, platform::LocalTime());
  held_ += text::ToUtf8(line);
  held_ += "\r\n";
  if (!held || held_.size() >= kHeldBytes || since - heldSince_ >= kHeldFor) WriteHeld();
}

void InstallLog::WriteDueLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!held_.empty() && std::chrono::steady_clock::now() - heldSince_ >= kHeldFor) WriteHeld();
}

void InstallLog::WriteHeld() {
  if (held_.empty()) return;
  try {
    if (file_.IsOpen()) file_.Write(held_.data(), held_.size());
  } catch (...) {
    // A full disk or a lost share must not stop the installation it records.
  }
  held_.clear();
}

void InstallLog::SetupStarted(const std::wstring& version, const std::vector<std::wstring>& arguments) {
  Write(L"Tessavo " + version);
  std::vector<std::wstring> shown;
  for (const std::wstring& argument : arguments) {
    shown.push_back(argument.find_first_of(L" \t") == std::wstring::npos ? argument : L"\"" + argument + L"\"");
  }
  Write(L"Command line: " + Joined(shown, L" "));
}

void InstallLog::Folders(const std::wstring& packageFolder, const std::wstring& destinationFolder) {
  Write(L"Medium folder: " + packageFolder);
  Write(L"Destination: " + destinationFolder);
}

void InstallLog::ChosenPackages(const std::vector<std::wstring>& packages) {
  Write(L"Packages: " + Joined(packages, L", "));
}

void InstallLog::SetupEnded(int exitCode) { Write(L"Exit code: " + std::to_wstring(exitCode)); }

void InstallLog::LeftOut(const std::wstring& file) { Write(L"Left out: " + file + L" is not a valid package"); }

void InstallLog::UnknownPackage(const std::wstring& name, const std::wstring& packageFolder) {
  Write(L"Error: " + name + L" is not a valid package in " + packageFolder);
}

void InstallLog::NoValidPackage(const std::wstring& packageFolder) {
  Write(L"Error: there is no valid package in " + packageFolder);
}

void InstallLog::Space(const std::wstring& destination, const SpaceCheck& check) {
  std::wstring sizes = ByteCount(check.need.known) + L" needed";
  if (!check.need.Complete()) {
    sizes += L" (at least " + ByteCount(check.need.AtLeast()) + L" with " +
             std::to_wstring(check.need.unknownPackages) + L" package(s) of unknown unpacked size)";
  }
  sizes += L", " + (check.available ? ByteCount(*check.available) : std::wstring(L"unknown")) + L" available";
  if (check.Fits()) {
    Write(L"Space on the destination drive of " + destination + L": " + sizes);
  } else {
    Write(L"Error: not enough free space on the destination drive of " + destination + L": " + sizes);
  }
}

void InstallLog::DestinationNotWritable(const std::wstring& destination, const DestinationCheck& check) {
  std::wstring reason = L"a file created there could not be opened";
  if (check.outcome == DestinationCheck::Outcome::kRefused) {
    const std::wstring text = platform::SystemErrorText(check.error);
    reason = L"system code " + std::to_wstring(check.error) + L": " + (text.empty() ? L"no text" : text);
  }
  Write(L"Error: the destination " + destination + L" cannot be written: " + reason);
}

void InstallLog::QuietRunFailed(const std::wstring& what) {
  Write(L"Error: the installation failed unexpectedly: " + what);
}

void InstallLog::PackageStarted(const std::wstring& name, const std::wstring& path) {
  Write(L"Package " + name + L": start (" + path + L")");
}

void InstallLog::FileWritten(const std::wstring& path, std::uint64_t bytes) {
  Put(L"File written: " + path + L" (" + std::to_wstring(bytes) + L" bytes)", true);
}

void InstallLog::FileUnchanged(const std::wstring& path) { Put(L"File unchanged: " + path, true); }

void InstallLog::FileRepaired(const std::wstring& path) { Put(L"Repaired file: " + path, true); }

void InstallLog::NoSizeIndex(const std::wstring& name, const std::wstring& path) {
  Write(L"Package " + name + L": every file is written, none checked: it has no valid size index (" + path + L")");
}

void InstallLog::PackageEnded(const std::wstring& name, AttemptOutcome outcome, std::uint64_t files,
                              std::uint64_t bytes, std::chrono::steady_clock::duration elapsed,
                              std::uint64_t unchangedFiles) {
  Write(L"Package " + name + L": " + OutcomeName(outcome) + L", " + std::to_wstring(files) + L" files, " +
        std::to_wstring(bytes) + L" bytes, " + Seconds(elapsed) + L" s" +
        (unchangedFiles != 0 ? L", " + std::to_wstring(unchangedFiles) + L" files unchanged" : L""));
}

void InstallLog::CancelledBefore(const std::wstring& name) {
  Write(L"The user cancelled the installation before package " + name);
}

void InstallLog::PassedOver(const std::wstring& name, const std::wstring& path, const package::Result& result) {
  Write(NotExtractedText(name, path, result) + L" - passed over");
}

void InstallLog::NotExtracted(const std::wstring& name, const std::wstring& path, const package::Result& result) {
  Write(L"Error in package " + name + L": " + NotExtractedText(name, path, result));
}

void InstallLog::FileFailure(const std::wstring& name, const std::wstring& path, const FileError& error) {
  Write(L"Error in package " + name + L" (" + path + L"): " + DescribeFileError(error));
}

void InstallLog::OtherFailure(const std::wstring& name, const std::wstring& path, const std::wstring& message) {
  Write(L"Error in package " + name + L" (" + path + L"), not a file error: " + message);
}

void InstallLog::Answer(FileErrorAnswer answer) { Write(L"Answer: " + std::wstring(AnswerName(answer))); }

void InstallLog::RunFailedUnexpectedly() { Write(L"Error: the installation failed unexpectedly"); }

void InstallLog::RunFailedUnexpectedlyAfterCancel() {
  Write(L"Error: the installation failed unexpectedly; the user had cancelled it");
}

void InstallLog::RunCouldNotStart(const std::wstring& failure) {
  Write(L"Error: the installation could not start: " + failure);
}

void InstallLog::DestinationNotRecorded(RunEnd end) {
  Write(end == RunEnd::kCancelled ? L"GeoPath not written: the user cancelled the installation"
                                  : L"GeoPath not written: the installation was stopped");
}

void InstallLog::DestinationRecorded(const std::wstring& destination, bool recorded) {
  Write(recorded ? L"GeoPath written: " + destination : L"GeoPath could not be written: " + destination);
}

void InstallLog::CancelAnswered(bool stop) {
  Write(stop ? L"Cancel: the user chose to stop the installation" : L"Cancel: the user chose to go on");
}

std::wstring NotExtractedText(const std::wstring& name, const std::wstring& path, const package::Result& result) {
  if (result.outcome == package::Outcome::kCannotOpen) {
    return L"The package " + name + L" cannot be opened: " + DescribeFileError(result.openError);
  }
  return L"The package " + name + L" is damaged (" + path + L"): " +
         package::HeaderFaultText(result.headerFault, result.header, name);
}

namespace {

std::wstring ReadingText(const RecordReading& reading) {
  if (reading.status == RecordReading::Status::kDamaged)
    return L"damaged at line " + std::to_wstring(reading.line) + L": " + reading.reason;
  return DescribeFileError(reading.error);
}

std::wstring Outcome(platform::ErrorCode code) {
  return code == platform::kErrorSuccess ? L"done" : L"failed, system code " + SystemText(code);
}

}  // namespace

void InstallLog::RecordNotWritten(const FileError& error) {
  Write(L"Error: the install record cannot be written: " + DescribeFileError(error));
}

void InstallLog::RecordSetAside(const std::wstring& path, const RecordReading& reading, const std::wstring& aside) {
  Write(L"Error: the install record " + path + L" does not read (" + ReadingText(reading) + L"); " +
        (aside.empty() ? L"it could not be moved aside and is left as it is, so this run is not recorded"
                       : L"kept as " + aside + L", a new record begun"));
}

void InstallLog::SetupCopyNotMade(const FileError& error) {
  Write(L"Error: the setup copy cannot be made: " + DescribeFileError(error));
}

void InstallLog::NoSetupFolder() {
  Write(L"Error: the system names no program-files folder; nothing is recorded for removal");
}

void InstallLog::UninstallEntryWritten(const std::wstring& key, platform::ErrorCode code) {
  Write(L"Installed-apps entry HKLM\\" + key + L": " + Outcome(code));
}

void InstallLog::NothingInstalled(const std::wstring& recordPath) {
  Write(L"Nothing to remove: no install record at " + recordPath);
}

void InstallLog::PackageNotInstalled(const std::wstring& name, const std::wstring& recordPath) {
  Write(L"Error: the package " + name + L" is not recorded as installed in " + recordPath);
}

void InstallLog::RecordUnreadable(const std::wstring& path, const RecordReading& reading) {
  Write(L"Error: the install record " + path + L" does not read, nothing is removed: " + ReadingText(reading));
}

void InstallLog::RemovalPlanned(const std::vector<std::wstring>& packages,
                                const std::vector<std::wstring>& destinations, std::uint64_t bytes) {
  Write(L"Removing packages " + Joined(packages, L", ") + L" from " + Joined(destinations, L", ") + L": " +
        ByteCount(bytes) + L" recorded");
}

void InstallLog::FileRemoved(const std::wstring& path) { Write(L"Removed: " + path); }

void InstallLog::FileRemovedAtRestart(const std::wstring& path) {
  Write(L"In use, removed at the next restart: " + path);
}

void InstallLog::FileKeptChanged(const std::wstring& path) { Write(L"Kept, changed since it was installed: " + path); }

void InstallLog::FileKeptShared(const std::wstring& path) {
  Write(L"Kept, a package that stays still records it: " + path);
}

void InstallLog::FileNotRemoved(const std::wstring& path, platform::ErrorCode code) {
  Write(L"Error: not removed: " + path + L", system code " + SystemText(code));
}

void InstallLog::FolderRemoved(const std::wstring& path) { Write(L"Removed folder: " + path); }

void InstallLog::FolderKept(const std::wstring& path) { Write(L"Kept folder, not empty: " + path); }

void InstallLog::RemovalCancelled() { Write(L"The removal was cancelled by the user"); }

void InstallLog::RemovalFailedUnexpectedly() { Write(L"Error: the removal failed unexpectedly"); }

void InstallLog::Forgotten(const std::wstring& what, platform::ErrorCode code) {
  Write(L"Removed " + what + L": " + Outcome(code));
}

void InstallLog::SetupCopyRemovedAfterExit(const std::wstring& path, bool started) {
  Write(started ? L"The setup copy " + path + L" is removed once this setup has ended"
                : L"Error: the setup copy " + path + L" cannot be removed after this setup: it stays");
}

}  // namespace app
