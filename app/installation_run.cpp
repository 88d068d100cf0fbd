#include "app/installation_run.h"

#include <chrono>

#include "app/install_log.h"
#include "package/package_path.h"
#include "package/trace.h"
#include "platform/platform.h"
#include "resources/texts_de.h"
#include "resources/texts_en.h"

namespace {

// Lines for a job without a log go nowhere.
InstallLog& LogOf(const InstallationJob& job) {
  static InstallLog closed;
  return job.log != nullptr ? *job.log : closed;
}

// The run's view of one extraction: progress moves both bars and names the
// file.
class RunObserver final : public package_trace::TracingObserver {
 public:
  RunObserver(const InstallationJob& job, CopyPageView& page) : job_(job), page_(page) {}

  int doneCount = 0;
  // Of the package's current attempt.
  std::uint64_t fileCount = 0;
  std::uint64_t byteCount = 0;

  void OnProgress(std::int32_t percent, const PackageFileRecord& record) override {
    page_.SetPackageRange(100);
    page_.SetPackagePosition(percent);
    if (percent <= 100) page_.SetOverallPosition(doneCount * 100 + percent);
    page_.SetCurrentFileText(texts_de::kCopying + record.Name());
  }
  void OnEntryFinished(const std::wstring& outputPath, std::uint64_t bytesWritten) override {
    ++fileCount;
    byteCount += bytesWritten;
    LogOf(job_).FileWritten(outputPath, bytesWritten);
  }
  bool StopRequested() override { return job_.stopRequested && job_.stopRequested(); }

 private:
  const InstallationJob& job_;
  CopyPageView& page_;
};

int OverallTotal(const InstallationJob& job) { return static_cast<int>(job.packages.size()) * 100; }

// The job's answerer when it has one, else the user through the page; the
// answer goes into the log after the failure it answers, which the caller
// has logged before the question: an answer may take its time.
FileErrorAnswer Ask(const InstallationJob& job, CopyPageView& page, const FailureQuestion& question) {
  const FileErrorAnswer answer = job.answer ? job.answer(question) : page.AskAbortRetryIgnore(question.message);
  LogOf(job).Answer(answer);
  return answer;
}

// The end steps, in the order the user sees them; GeoPath only after a run
// that ran through. False when GeoPath could not be written.
bool EndRun(const InstallationJob& job, CopyPageView& page, RunEnd end) {
  page.SetPackagePosition(0);
  page.SetOverallPosition(OverallTotal(job));
  page.EnableFinishButton();
  page.DisableCancel();
  page.SetHeadingText(L"");
  page.SetCurrentFileText(L"");
  bool recorded = true;
  if (end != RunEnd::kFinished) {
    page.ShowCancelledText();
    LogOf(job).DestinationNotRecorded(end);
  } else {
    page.ShowFinishedText();
    if (job.recordDestination) {
      recorded = job.recordDestination(job.destinationFolder);
      LogOf(job).DestinationRecorded(job.destinationFolder, recorded);
    }
  }
  page.EnableSheet();
  return recorded;
}

}  // namespace

std::wstring FileErrorMessage(const std::wstring& errorText, const std::wstring& extractErrorText) {
  std::wstring message = !errorText.empty()          ? errorText
                         : !extractErrorText.empty() ? extractErrorText
                                                     : texts_en::kGenericFileError;
  if (message.size() > kMaxFileErrorMessageLength) message.resize(kMaxFileErrorMessageLength);
  return message;
}

RunEnd CopyPackages(const InstallationJob& job, CopyPageView& page) {
  RunObserver run(job, page);
  const PackageExtractor extract =
      job.extract
          ? job.extract
          : [](const std::wstring& path, const std::wstring& name, const std::wstring& destination,
               package_engine::Observer& observer) {
              // Several decoders and large buffers: a copy from a fast
              // drive is bound by inflate, not by the disk.
              return package_engine::Extract(path, name, destination, observer, {package_engine::kLargeBuffers, 0});
            };

  page.SetOverallRange(OverallTotal(job));
  bool stopped = false;
  bool cancelled = false;

  for (const std::wstring& name : job.packages) {
    if (run.StopRequested()) {
      LogOf(job).CancelledBefore(name);
      cancelled = true;
      break;
    }
    const std::wstring path = package_path::Build(job.packageFolder, name);
    LogOf(job).PackageStarted(name, path);
    const auto started = std::chrono::steady_clock::now();
    bool installed = true;
    int attempt = 0;
    bool retry = true;
    while (retry) {
      retry = false;
      // A retry the user asked for before the stop still yields to it.
      if (attempt > 0 && run.StopRequested()) {
        cancelled = true;
        break;
      }
      FailureQuestion question{name, ++attempt, {}};
      // A retry writes the package again from its start: the end line tells
      // of the attempt that ended it, not of every attempt together.
      run.fileCount = 0;
      run.byteCount = 0;
      try {
        const package_engine::Result result = extract(path, name, job.destinationFolder, run);
        if (result.outcome == package_engine::Outcome::kExtracted) break;
        if (result.outcome == package_engine::Outcome::kCancelled) {
          cancelled = true;
          break;
        }
        if (!job.unopenablePackageFails) {
          // The catalogue had offered it: the wizard passes it as done.
          LogOf(job).PassedOver(name, path, result);
          break;
        }
        LogOf(job).NotExtracted(name, path, result);
        question.message = FileErrorMessage(NotExtractedText(name, path, result), L"");
      } catch (const FileError& error) {
        LogOf(job).FileFailure(name, path, error);
        question.message = FileErrorMessage(error.Text(), ExtractErrorText(error));
      } catch (...) {
        // Not a file error (out of memory, say, or anything a library may
        // throw): asked about all the same, so that the run still reaches its
        // end with Finish enabled.
        question.message = FileErrorMessage(L"", L"");
        LogOf(job).OtherFailure(name, path, question.message);
      }
      // The user has already said to stop: asking to retry would only be in the way.
      if (run.StopRequested()) {
        cancelled = true;
        break;
      }
      switch (Ask(job, page, question)) {
        case FileErrorAnswer::kRetry: retry = true; break;
        case FileErrorAnswer::kAbort: stopped = true; break;
        case FileErrorAnswer::kIgnore: installed = false; break;
      }
    }
    LogOf(job).PackageEnded(name,
                            cancelled   ? L"cancelled by the user"
                            : stopped   ? L"stopped"
                            : installed ? L"end"
                                        : L"ignored",
                            run.fileCount, run.byteCount, std::chrono::steady_clock::now() - started);
    if (stopped || cancelled) break;
    ++run.doneCount;
    page.SetOverallPosition(run.doneCount * 100);
  }

  run.doneCount = 0;
  const RunEnd end = cancelled ? RunEnd::kCancelled : stopped ? RunEnd::kStopped : RunEnd::kFinished;
  const bool recorded = EndRun(job, page, end);
  // Without anyone at the screen, a destination that cannot be found again
  // is a failed installation; the wizard's user has seen the files arrive.
  if (job.answer && !recorded) return RunEnd::kStopped;
  return end;
}

RunEnd RunInstallationToTheEnd(const InstallationJob& job, CopyPageView& page) noexcept {
  for (int attempt = 1;; ++attempt) {
    try {
      return CopyPackages(job, page);
    } catch (...) {
    }
    try {
      if (job.stopRequested && job.stopRequested()) {
        LogOf(job).RunFailedUnexpectedlyAfterCancel();
        EndRun(job, page, RunEnd::kCancelled);
        return RunEnd::kCancelled;
      }
      const FailureQuestion question{L"", attempt, texts_en::kGenericFileError};
      LogOf(job).RunFailedUnexpectedly();
      if (Ask(job, page, question) == FileErrorAnswer::kRetry) {
        continue;
      }
      EndRun(job, page, RunEnd::kStopped);
    } catch (...) {
      // Even the question failed: Finish at least must be offered.
      page.EnableFinishButton();
      page.DisableCancel();
      page.EnableSheet();
    }
    return RunEnd::kStopped;
  }
}

bool StartInstallation(const InstallationJob& job, CopyPageView& page,
                       const std::function<bool(std::wstring& failure)>& startWorker) {
  for (int attempt = 1;; ++attempt) {
    std::wstring failure;
    if (startWorker(failure)) return true;
    if (failure.empty()) failure = texts_en::kGenericFileError;
    const FailureQuestion question{L"", attempt, failure};
    LogOf(job).RunCouldNotStart(failure);
    if (Ask(job, page, question) != FileErrorAnswer::kRetry) break;
  }
  page.SetOverallRange(OverallTotal(job));
  EndRun(job, page, RunEnd::kStopped);
  return false;
}
