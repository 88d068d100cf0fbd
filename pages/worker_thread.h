// The thread that installs the chosen packages while the copy page shows.
#pragma once

#include "app/installation_run.h"
#include "framework/thread.h"

namespace app {

class PageCopyFiles;

class WorkerThread : public framework::Thread {
 public:
  // `runEnded` is set once the run's last step is done.
  WorkerThread(InstallationJob job, PageCopyFiles& copyPage, framework::Event& runEnded);

  // The whole run; afterwards the thread idles until the process ends.
  bool InitInstance() override;

 private:
  InstallationJob job_;
  PageCopyFiles& copyPage_;
  framework::Event& runEnded_;
};

}  // namespace app
