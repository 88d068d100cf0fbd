#include "app/installation_run.h"

#include "package/package_path.h"
#include "package/trace.h"

namespace {

// The run's view of one extraction: progress moves both bars and names the
// file; the German text of the last error is kept for a FileError without one.
class RunObserver final : public package_trace::TracingObserver {
 public:
  explicit RunObserver(CopyPageView& page) : page_(page) {}

  int doneCount = 0;
  std::wstring lastExtractError;

  void OnProgress(std::int32_t percent, const PackageFileRecord& record) override {
    page_.SetPackageRange(100);
    page_.SetPackagePosition(percent);
    if (percent <= 100) page_.SetOverallPosition(doneCount * 100 + percent);
    page_.SetCurrentFileText(kCopyingPrefix + record.Name());
  }
  void OnError(package_engine::ErrorKind kind, const std::wstring& path) override {
    lastExtractError = ExtractErrorText(kind, path);
  }

 private:
  CopyPageView& page_;
};

int OverallTotal(const InstallationJob& job) { return static_cast<int>(job.packages.size()) * 100; }

// The end steps, in the order the user sees them; GeoPath only after a run
// that was not stopped.
void EndRun(const InstallationJob& job, CopyPageView& page, bool stopped) {
  page.SetPackagePosition(0);
  page.SetOverallPosition(OverallTotal(job));
  page.EnableFinishButton();
  page.SetHeadingText(L"");
  page.SetCurrentFileText(L"");
  if (stopped) {
    page.ShowCancelledText();
  } else {
    page.ShowFinishedText();
    if (job.recordDestination) job.recordDestination(job.destinationFolder);
  }
  page.EnableSheet();
}

}  // namespace

std::wstring FileErrorMessage(const std::wstring& errorText, const std::wstring& lastExtractError) {
  std::wstring message = !errorText.empty()          ? errorText
                         : !lastExtractError.empty() ? lastExtractError
                                                     : kGenericFileErrorText;
  if (message.size() > kMaxFileErrorMessageLength) message.resize(kMaxFileErrorMessageLength);
  return message;
}

bool RunInstallation(const InstallationJob& job, CopyPageView& page) {
  RunObserver run(page);
  const PackageExtractor extract = job.extract
                                       ? job.extract
                                       : [](const std::wstring& path, const std::wstring& name,
                                            const std::wstring& destination, package_engine::Observer& observer) {
                                           return package_engine::Extract(path, name, destination, observer);
                                         };

  page.SetOverallRange(OverallTotal(job));
  bool stopped = false;

  for (const std::wstring& name : job.packages) {
    run.lastExtractError.clear();
    bool retry = true;
    while (retry) {
      retry = false;
      std::wstring errorText;
      try {
        // The status is not looked at: a package that vanished or no longer
        // checks out passes as done, as the catalogue had offered it.
        extract(package_path::Build(job.packageFolder, name), name, job.destinationFolder, run);
        break;
      } catch (const FileError& error) {
        errorText = error.Text();
      } catch (...) {
        // Not a file error (out of memory, say, or anything a library may
        // throw): asked about all the same, so that the run still reaches its
        // end with Finish enabled.
      }
      switch (page.AskAbortRetryIgnore(FileErrorMessage(errorText, run.lastExtractError))) {
        case FileErrorAnswer::kRetry: retry = true; break;
        case FileErrorAnswer::kAbort: stopped = true; break;
        case FileErrorAnswer::kIgnore: break;
      }
    }
    if (stopped) break;
    ++run.doneCount;
    page.SetOverallPosition(run.doneCount * 100);
  }

  run.doneCount = 0;
  EndRun(job, page, stopped);
  return !stopped;
}

bool RunInstallationToTheEnd(const InstallationJob& job, CopyPageView& page) noexcept {
  for (;;) {
    try {
      return RunInstallation(job, page);
    } catch (...) {
    }
    try {
      if (page.AskAbortRetryIgnore(kGenericFileErrorText) == FileErrorAnswer::kRetry) continue;
      EndRun(job, page, true);
    } catch (...) {
      // Even the question failed: Finish at least must be offered.
      page.EnableFinishButton();
      page.EnableSheet();
    }
    return false;
  }
}

bool StartInstallation(const InstallationJob& job, CopyPageView& page,
                       const std::function<bool(std::wstring& failure)>& startWorker) {
  for (;;) {
    std::wstring failure;
    if (startWorker(failure)) return true;
    if (failure.empty()) failure = kGenericFileErrorText;
    if (page.AskAbortRetryIgnore(failure) != FileErrorAnswer::kRetry) break;
  }
  page.SetOverallRange(OverallTotal(job));
  EndRun(job, page, true);
  return false;
}
