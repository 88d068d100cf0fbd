// /uninstall's only page: the progress page running the removal of the
// installed maps, with the removal's own texts.
#pragma once

#include "app/removal_run.h"
#include "pages/page_progress.h"

namespace app {

class InstallLog;

class PageRemoveFiles : public PageProgress {
 public:
  // Removes what `job` says when the page shows; the job's stopRequested
  // becomes the page's Cancel.
  PageRemoveFiles(RemovalJob job, InstallLog& log);

  // /passive: nothing asked but Cancel's question; Finish pressed at the end.
  void RunUnattended() { SetUnattended(); }

  // After WaitForRun: how the removal ended; failed when it never started.
  RemovalEnd RunOutcome() const { return runEnd_; }

 protected:
  bool BeginRun() override;

 private:
  RemovalJob job_;
  // Written by the worker before the run's end is signalled, read after it.
  RemovalEnd runEnd_ = RemovalEnd::kFailed;
};

}  // namespace app
