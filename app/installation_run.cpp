#include "app/installation_run.h"

#include <chrono>
#include <cstdio>

#include "app/install_log.h"
#include "package/package_path.h"
#include "package/trace.h"
#include "platform/platform.h"
#include "resources/texts_de.h"
#include "resources/texts_en.h"

namespace {

void Log(const InstallationJob& job, const std::wstring& line) {
  if (job.log != nullptr) job.log->Write(line);
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
    Log(job_, L"File written: " + outputPath + L" (" + std::to_wstring(bytesWritten) + L" bytes)");
  }
  bool StopRequested() override { return job_.stopRequested && job_.stopRequested(); }

 private:
  const InstallationJob& job_;
  CopyPageView& page_;
};

int OverallTotal(const InstallationJob& job) { return static_cast<int>(job.packages.size()) * 100; }

const wchar_t* AnswerName(FileErrorAnswer answer) {
  switch (answer) {
    case FileErrorAnswer::kAbort: return L"Abort";
    case FileErrorAnswer::kRetry: return L"Retry";
    case FileErrorAnswer::kIgnore: return L"Ignore";
  }
  return L"?";
}

// The job's answerer when it has one, else the user through the page; the
// answer goes into the log after the failure it answers.
// The failure is logged before the question: an answer may take its time.
FileErrorAnswer Ask(const InstallationJob& job, CopyPageView& page, const FailureQuestion& question,
                    const std::wstring& logLine) {
  Log(job, logLine);
  const FileErrorAnswer answer = job.answer ? job.answer(question) : page.AskAbortRetryIgnore(question.message);
  Log(job, L"Answer: " + std::wstring(AnswerName(answer)));
  return answer;
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

// Why a package was not extracted, naming it and its file.
std::wstring NotExtractedText(const std::wstring& name, const std::wstring& path,
                              const package_engine::Result& result) {
  if (result.outcome == package_engine::Outcome::kCannotOpen) {
    return L"The package " + name + L" cannot be opened: " + DescribeFileError(result.openError);
  }
  return L"The package " + name + L" is damaged (" + path + L"): " +
         HeaderFaultText(result.headerFault, result.header, name);
}

std::wstring Seconds(std::chrono::steady_clock::duration elapsed) {
  wchar_t text[32];
  std::swprintf(text, sizeof text / sizeof text[0], L"%.3f",
                std::chrono::duration_cast<std::chrono::duration<double>>(elapsed).count());
  return text;
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
    Log(job, end == RunEnd::kCancelled ? L"GeoPath not written: the user cancelled the installation"
                                       : L"GeoPath not written: the installation was stopped");
  } else {
    page.ShowFinishedText();
    if (job.recordDestination) {
      recorded = job.recordDestination(job.destinationFolder);
      Log(job, recorded ? L"GeoPath written: " + job.destinationFolder
                        : L"GeoPath could not be written: " + job.destinationFolder);
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
      Log(job, L"The user cancelled the installation before package " + name);
      cancelled = true;
      break;
    }
    const std::wstring path = package_path::Build(job.packageFolder, name);
    Log(job, L"Package " + name + L": start (" + path + L")");
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
      std::wstring logLine;
      try {
        const package_engine::Result result = extract(path, name, job.destinationFolder, run);
        if (result.outcome == package_engine::Outcome::kExtracted) break;
        if (result.outcome == package_engine::Outcome::kCancelled) {
          cancelled = true;
          break;
        }
        const std::wstring reason = NotExtractedText(name, path, result);
        if (!job.unopenablePackageFails) {
          // The catalogue had offered it: the wizard passes it as done.
          Log(job, reason + L" - passed over");
          break;
        }
        question.message = FileErrorMessage(reason, L"");
        logLine = L"Error in package " + name + L": " + reason;
      } catch (const FileError& error) {
        question.message = FileErrorMessage(error.Text(), ExtractErrorText(error));
        logLine = L"Error in package " + name + L" (" + path + L"): " + DescribeFileError(error);
      } catch (...) {
        // Not a file error (out of memory, say, or anything a library may
        // throw): asked about all the same, so that the run still reaches its
        // end with Finish enabled.
        question.message = FileErrorMessage(L"", L"");
        logLine = L"Error in package " + name + L" (" + path + L"), not a file error: " + question.message;
      }
      // The user has already said to stop: asking to retry would only be in the way.
      if (run.StopRequested()) {
        Log(job, logLine);
        cancelled = true;
        break;
      }
      switch (Ask(job, page, question, logLine)) {
        case FileErrorAnswer::kRetry: retry = true; break;
        case FileErrorAnswer::kAbort: stopped = true; break;
        case FileErrorAnswer::kIgnore: installed = false; break;
      }
    }
    Log(job, L"Package " + name + L": " +
                 (cancelled   ? L"cancelled by the user"
                  : stopped   ? L"stopped"
                  : installed ? L"end"
                              : L"ignored") +
                 L", " + std::to_wstring(run.fileCount) + L" files, " + std::to_wstring(run.byteCount) + L" bytes, " +
                 Seconds(std::chrono::steady_clock::now() - started) + L" s");
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
        Log(job, L"Error: the installation failed unexpectedly; the user had cancelled it");
        EndRun(job, page, RunEnd::kCancelled);
        return RunEnd::kCancelled;
      }
      const FailureQuestion question{L"", attempt, texts_en::kGenericFileError};
      if (Ask(job, page, question, L"Error: the installation failed unexpectedly") == FileErrorAnswer::kRetry) {
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
    if (Ask(job, page, question, L"Error: the installation could not start: " + failure) != FileErrorAnswer::kRetry)
      break;
  }
  page.SetOverallRange(OverallTotal(job));
  EndRun(job, page, RunEnd::kStopped);
  return false;
}
