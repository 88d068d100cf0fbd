#include "app/installation_run.h"

#include <chrono>
#include <optional>
#include <vector>

#include "app/install_log.h"
#include "app/installed_setup.h"
#include "app/time_left.h"
#include "package/package_path.h"
#include "package/trace.h"
#include "resources/texts_de.h"
#include "resources/texts_en.h"

namespace app {

namespace {

// The run's view of one extraction: progress moves both bars and names the
// file.
class RunObserver final : public package::trace::TracingObserver {
 public:
  RunObserver(const InstallationJob& job, RunView& view, InstallLog& log) : job_(job), view_(view), log_(log) {}

  int doneCount = 0;
  std::wstring package;  // the one being extracted
  // Of the package's current attempt. `checked` when the engine asked about
  // its targets, as it does only for a package with a valid size index.
  bool checked = false;
  std::uint64_t fileCount = 0;
  std::uint64_t byteCount = 0;
  TimeLeft timeLeft;
  std::uint64_t unchangedCount = 0;

  void OnProgress(std::int32_t percent, const package::PackageFileRecord& record) override {
    view_.SetPackageRange(100);
    view_.SetPackagePosition(percent);
    if (percent <= 100) view_.SetOverallPosition(doneCount * 100 + percent);
    view_.SetCurrentFileText(texts_de::kCopying + record.Name());
    log_.WriteDueLines();
    if (const std::optional<std::wstring> text =
            timeLeft.Progress(static_cast<std::size_t>(doneCount), percent, std::chrono::steady_clock::now()))
      view_.SetTimeLeftText(*text);
  }
  void OnFoldersCreated(const std::vector<std::wstring>& folders) override {
    if (job_.record != nullptr) job_.record->FoldersCreated(package, folders);
  }
  void OnEntryFinished(const std::wstring& outputPath, std::uint64_t bytesWritten, std::uint32_t adler32) override {
    ++fileCount;
    byteCount += bytesWritten;
    log_.FileWritten(outputPath, bytesWritten);
    if (checked && job_.copyRule == CopyRule::kRepair) log_.FileRepaired(outputPath);
    if (job_.record != nullptr) job_.record->FileCommitted(package, outputPath, bytesWritten, adler32);
  }
  package::TargetCheck CompareTarget(const package::EntryFacts& facts) override {
    checked = true;
    // Without a keeper nothing tells whether a run was killed: a quick check
    // is then confirmed by the bytes.
    if (job_.record == nullptr)
      return ChooseTargetCheck(facts, job_.copyRule, noRecord_, job_.destinationFolder, package, false);
    return ChooseTargetCheck(facts, job_.copyRule, job_.record->record(), job_.destinationFolder, package,
                             job_.record->previousRunEnded());
  }
  void OnEntryUnchanged(const package::EntryFacts& facts, bool contentCompared) override {
    ++unchangedCount;
    log_.FileUnchanged(facts.outputPath);
    if (job_.record != nullptr && facts.target)
      job_.record->FileUnchanged(package, facts.outputPath, facts.size, facts.target->modified, facts.adler32,
                                 contentCompared);
  }
  bool StopRequested() override { return job_.stopRequested && job_.stopRequested(); }

 private:
  const InstallationJob& job_;
  RunView& view_;
  InstallLog& log_;
  const InstallRecord noRecord_;
};

// One run of a job: the packages in turn, each attempted until it is done,
// ignored, stopped or cancelled, then the end steps.
class Run {
 public:
  Run(const InstallationJob& job, RunView& view)
      : job_(job), view_(view), log_(job.log != nullptr ? *job.log : unlogged_), observer_(job, view, log_) {}

  InstallLog& log() { return log_; }

  RunEnd InstallPackages() {
    view_.SetOverallRange(OverallTotal());
    observer_.timeLeft = ReadTimeLeft(job_.packageFolder, job_.packages, &indexed_);
    if (job_.record != nullptr) job_.record->RunStarted(job_.destinationFolder);
    RunEnd end = RunEnd::kFinished;
    for (std::size_t i = 0; i < job_.packages.size(); ++i) {
      const std::wstring& name = job_.packages[i];
      if (observer_.StopRequested()) {
        log_.CancelledBefore(name);
        end = RunEnd::kCancelled;
        break;
      }
      const AttemptOutcome outcome = InstallPackage(name, i < indexed_.size() ? indexed_[i] : std::nullopt);
      if (job_.record != nullptr) job_.record->PackageEnded();
      if (outcome == AttemptOutcome::kStopped || outcome == AttemptOutcome::kCancelled) {
        end = outcome == AttemptOutcome::kStopped ? RunEnd::kStopped : RunEnd::kCancelled;
        break;
      }
      ++observer_.doneCount;
      view_.SetOverallPosition(observer_.doneCount * 100);
    }
    observer_.doneCount = 0;
    const bool recorded = End(end);
    // Without anyone at the screen, a destination that cannot be found again
    // is a failed installation; the wizard's user has seen the files arrive.
    if (job_.answer && !recorded) return RunEnd::kStopped;
    return end;
  }

  // The job's answerer when it has one, else the user through the view; the
  // answer goes into the log after the failure it answers, which the caller
  // has logged before the question: an answer may take its time.
  FileErrorAnswer Ask(const FailureQuestion& question) {
    const FileErrorAnswer answer = job_.answer ? job_.answer(question) : view_.AskAbortRetryIgnore(question.message);
    log_.Answer(answer);
    return answer;
  }

  // The end steps, in the order the user sees them; GeoPath only after a run
  // that ran through. False when GeoPath could not be written.
  bool End(RunEnd end) {
    view_.SetPackagePosition(0);
    view_.SetOverallPosition(OverallTotal());
    view_.EnableFinishButton();
    view_.DisableCancel();
    view_.SetHeadingText(L"");
    view_.SetCurrentFileText(L"");
    view_.SetTimeLeftText(L"");
    // However the run ended, what it committed can be removed again.
    if (job_.record != nullptr) job_.record->RunEnded();
    bool recorded = true;
    if (end != RunEnd::kFinished) {
      view_.ShowCancelledText();
      log_.DestinationNotRecorded(end);
    } else {
      view_.ShowFinishedText();
      if (job_.recordDestination) {
        recorded = job_.recordDestination(job_.destinationFolder);
        log_.DestinationRecorded(job_.destinationFolder, recorded);
      }
    }
    view_.EnableSheet();
    return recorded;
  }

  int OverallTotal() const { return static_cast<int>(job_.packages.size()) * 100; }

 private:
  // `indexed`: whether the package has a valid size index, nullopt when it
  // could not be read (its attempt reports that).
  AttemptOutcome InstallPackage(const std::wstring& name, std::optional<bool> indexed) {
    const std::wstring path = package::package_path::Build(job_.packageFolder, name);
    observer_.package = name;
    log_.PackageStarted(name, path);
    const auto started = std::chrono::steady_clock::now();
    if (job_.copyRule != CopyRule::kWriteAll && indexed == false) log_.NoSizeIndex(name, path);
    AttemptOutcome outcome = Attempt(name, path, 1);
    for (int attempt = 2; outcome == AttemptOutcome::kRetry; ++attempt) {
      // A retry the user asked for before the stop still yields to it.
      outcome = observer_.StopRequested() ? AttemptOutcome::kCancelled : Attempt(name, path, attempt);
    }
    log_.PackageEnded(name, outcome, observer_.fileCount, observer_.byteCount,
                      std::chrono::steady_clock::now() - started, observer_.unchangedCount);
    return outcome;
  }

  AttemptOutcome Attempt(const std::wstring& name, const std::wstring& path, int attempt) {
    // A retry writes the package again from its start: the end line tells of
    // the attempt that ended it, not of every attempt together.
    observer_.fileCount = 0;
    observer_.byteCount = 0;
    observer_.unchangedCount = 0;
    observer_.checked = false;
    FailureQuestion question{name, attempt, {}};
    try {
      const package::Result result = job_.extract ? job_.extract(path, name, job_.destinationFolder, observer_)
                                                  : package::Extract(path, name, job_.destinationFolder, observer_,
                                                                     ExtractOptionsFor(job_.copyRule));
      if (result.outcome == package::Outcome::kExtracted) return AttemptOutcome::kDone;
      if (result.outcome == package::Outcome::kCancelled) return AttemptOutcome::kCancelled;
      if (!job_.unopenablePackageFails) {
        // The catalogue had offered it: the wizard passes it as done.
        log_.PassedOver(name, path, result);
        return AttemptOutcome::kDone;
      }
      log_.NotExtracted(name, path, result);
      question.message = FileErrorMessage(NotExtractedText(name, path, result), L"");
    } catch (const FileError& error) {
      log_.FileFailure(name, path, error);
      question.message = FileErrorMessage(error.Text(), package::ExtractErrorText(error));
    } catch (...) {
      // Not a file error (out of memory, say, or anything a library may
      // throw): asked about all the same, so that the run still reaches its
      // end with Finish enabled.
      question.message = FileErrorMessage(L"", L"");
      log_.OtherFailure(name, path, question.message);
    }
    // The user has already said to stop: asking to retry would only be in the way.
    if (observer_.StopRequested()) return AttemptOutcome::kCancelled;
    switch (Ask(question)) {
      case FileErrorAnswer::kRetry: return AttemptOutcome::kRetry;
      case FileErrorAnswer::kIgnore: return AttemptOutcome::kIgnored;
      case FileErrorAnswer::kAbort: break;
    }
    return AttemptOutcome::kStopped;
  }

  const InstallationJob& job_;
  RunView& view_;
  InstallLog unlogged_;  // never opened: lines of a job without a log go nowhere
  InstallLog& log_;
  RunObserver observer_;
  // Each chosen package's index, as the run found it at its start.
  std::vector<std::optional<bool>> indexed_;
};

}  // namespace

std::wstring FileErrorMessage(const std::wstring& errorText, const std::wstring& extractErrorText) {
  std::wstring message = !errorText.empty()          ? errorText
                         : !extractErrorText.empty() ? extractErrorText
                                                     : texts_en::kGenericFileError;
  if (message.size() > kMaxFileErrorMessageLength) message.resize(kMaxFileErrorMessageLength);
  return message;
}

RunEnd RunInstallation(const InstallationJob& job, RunView& view) noexcept {
  for (int attempt = 1;; ++attempt) {
    try {
      return Run(job, view).InstallPackages();
    } catch (...) {
    }
    try {
      Run run(job, view);
      if (job.stopRequested && job.stopRequested()) {
        run.log().RunFailedUnexpectedlyAfterCancel();
        run.End(RunEnd::kCancelled);
        return RunEnd::kCancelled;
      }
      run.log().RunFailedUnexpectedly();
      if (run.Ask(FailureQuestion{L"", attempt, texts_en::kGenericFileError}) == FileErrorAnswer::kRetry) continue;
      run.End(RunEnd::kStopped);
    } catch (...) {
      // Even the question failed: Finish at least must be offered.
      view.EnableFinishButton();
      view.DisableCancel();
      view.EnableSheet();
    }
    return RunEnd::kStopped;
  }
}

bool StartInstallation(const InstallationJob& job, RunView& view,
                       const std::function<bool(std::wstring& failure)>& startWorker) {
  Run run(job, view);
  for (int attempt = 1;; ++attempt) {
    std::wstring failure;
    if (startWorker(failure)) return true;
    if (failure.empty()) failure = texts_en::kGenericFileError;
    run.log().RunCouldNotStart(failure);
    if (run.Ask(FailureQuestion{L"", attempt, failure}) != FileErrorAnswer::kRetry) break;
  }
  view.SetOverallRange(run.OverallTotal());
  run.End(RunEnd::kStopped);
  return false;
}

}  // namespace app
