// The last page of the wizard and /passive's only one: the progress page
// running the installation of the chosen packages.
#pragma once

#include <optional>

#include "app/installation_run.h"
#include "pages/page_progress.h"

namespace app {

class InstallLog;
class WizardSession;

class PageCopyFiles : public PageProgress {
 public:
  // The run logs to `log` (which may not be open).
  PageCopyFiles(WizardSession& session, InstallLog& log);

  // Unattended (/passive): the page runs this job instead of the session's,
  // asks nothing and presses Finish itself when the run ends.
  void RunUnattended(InstallationJob job);

  // After WaitForRun: nullopt when no run started, else how it ended.
  std::optional<RunEnd> RunOutcome() const { return RunStarted() ? std::optional<RunEnd>(runEnd_) : std::nullopt; }

 protected:
  bool BeginRun() override;

 private:
  WizardSession& session_;
  std::optional<InstallationJob> unattendedJob_;
  // Written by the worker before the run's end is signalled, read after it.
  RunEnd runEnd_ = RunEnd::kStopped;
};

}  // namespace app
