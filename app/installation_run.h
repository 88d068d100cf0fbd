// The installation run: every chosen package extracted in order, both progress
// bars and the current file kept up to date, file errors put to the user as
// Abort/Retry/Ignore, a stop the user asks for, and the end state. The wizard
// and /passive carry it out on the copy page's worker thread, /quiet on its
// own thread without a window; tests watch it through a recorder.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/copy_rule.h"
#include "package/engine.h"
#include "package/package.h"

namespace app {

class InstallLog;
class RecordKeeper;

enum class FileErrorAnswer { kAbort, kRetry, kIgnore };

// How a run ended. Stopped and cancelled look the same on the page; the
// exit code of an unattended setup tells them apart.
enum class RunEnd {
  kFinished,   // ran through (packages skipped by Ignore included)
  kStopped,    // Abort after a failure, or an unattended run that failed
  kCancelled,  // the user asked to stop
};

// What one attempt at a package came to; all but kRetry end the package.
enum class AttemptOutcome {
  kDone,       // extracted, or passed over as the wizard passes a package that no longer opens
  kIgnored,    // failed, and Ignore counts it as done
  kStopped,    // failed, and Abort stops the run
  kCancelled,  // the user asked to stop
  kRetry,      // failed, and Retry starts the package again from its beginning
};

// A failure put to whoever answers for the run.
struct FailureQuestion {
  std::wstring packageName;
  int attempt = 1;  // 1 for a package's first failure, counting retries
  std::wstring message;
};
using FailureAnswerer = std::function<FileErrorAnswer(const FailureQuestion&)>;

// What the run shows and asks: the copy page's bars, texts and buttons and
// its question. Every call must be complete when it returns: the run's order
// is the order the user sees.
class RunView {
 public:
  virtual ~RunView() = default;
  virtual void SetOverallRange(int upper) = 0;
  virtual void SetOverallPosition(int position) = 0;
  virtual void SetPackageRange(int upper) = 0;
  virtual void SetPackagePosition(int position) = 0;
  virtual void SetCurrentFileText(const std::wstring& text) = 0;
  // The line under the bars: copied, total and about how long the rest takes.
  virtual void SetTimeLeftText(const std::wstring& text) = 0;
  virtual void SetHeadingText(const std::wstring& text) = 0;
  virtual void ShowFinishedText() = 0;
  virtual void ShowCancelledText() = 0;
  virtual void EnableFinishButton() = 0;
  // For good: once the run has ended, Finish is the only way on.
  virtual void DisableCancel() = 0;
  virtual void EnableSheet() = 0;
  virtual FileErrorAnswer AskAbortRetryIgnore(const std::wstring& message) = 0;
};

// A view that shows nothing: the quiet run's, and a base for views that
// care only about the questions. Unattended jobs answer for themselves, so
// the question is put only where a subclass says so.
class SilentRunView : public RunView {
 public:
  void SetOverallRange(int) override {}
  void SetOverallPosition(int) override {}
  void SetPackageRange(int) override {}
  void SetPackagePosition(int) override {}
  void SetCurrentFileText(const std::wstring&) override {}
  void SetTimeLeftText(const std::wstring&) override {}
  void SetHeadingText(const std::wstring&) override {}
  void ShowFinishedText() override {}
  void ShowCancelledText() override {}
  void EnableFinishButton() override {}
  void DisableCancel() override {}
  void EnableSheet() override {}
  FileErrorAnswer AskAbortRetryIgnore(const std::wstring&) override { return FileErrorAnswer::kAbort; }
};

// One package into the destination, the observer hearing of every step.
// package::Extract unless a test puts its own in.
using PackageExtractor = std::function<package::Result(const std::wstring& packagePath, const std::wstring& packageName,
                                                       const std::wstring& destination, package::Observer& observer)>;

struct InstallationJob {
  std::wstring packageFolder;
  std::wstring destinationFolder;
  std::vector<std::wstring> packages;
  // Remembers the destination after a run that was not stopped (GeoPath);
  // false when it could not.
  std::function<bool(std::wstring destination)> recordDestination;
  PackageExtractor extract;
  // Empty: the view asks the user. Set: answers every failure instead.
  FailureAnswerer answer;
  // Whether the user wants the run to stop; empty: never. Called on the
  // run's thread, between packages and by the engine between chunks.
  std::function<bool()> stopRequested;
  // Package starts and ends, every file written, every failure and its
  // answer, whether GeoPath was written. Not owned; may be null.
  InstallLog* log = nullptr;
  // The wizard passes a package that no longer opens or checks out as done,
  // as the catalogue had offered it; unattended, nobody would notice, so it
  // is a failure like a FileError.
  bool unopenablePackageFails = false;
  // Told of every committed file and created folder, of each package's end
  // and of the run's: the install record. Not owned; may be null.
  RecordKeeper* record = nullptr;
  CopyRule copyRule = CopyRule::kSkipUnchanged;
};

inline constexpr std::size_t kMaxFileErrorMessageLength = 1023;

// The error's own text, else the extractor's German text of it, else the
// generic text; at most 1023 characters.
std::wstring FileErrorMessage(const std::wstring& errorText, const std::wstring& extractErrorText);

// The whole installation, for the wizard, /passive and /quiet alike; nothing
// escapes it. Stopped after Abort, or, for a job with its own answerer, when
// GeoPath could not be written. Cancelled as soon as the job's stopRequested
// says so (before a package or an attempt, or when the engine stopped): what
// was completed stays, the rest is not started. Whatever the packages' steps
// themselves let out is asked about with the generic text: Retry runs the
// installation again from its start, Abort and Ignore end it as stopped, so
// Finish is always offered.
RunEnd RunInstallation(const InstallationJob& job, RunView& view) noexcept;

// Starts the run's worker. When it will not start (`startWorker` false, with
// the reason in its argument), the user is asked like after any failure:
// Retry tries again; Abort and Ignore end the run as stopped, nothing
// installed, Finish enabled. True once the worker runs.
bool StartInstallation(const InstallationJob& job, RunView& view,
                       const std::function<bool(std::wstring& failure)>& startWorker);

}  // namespace app
