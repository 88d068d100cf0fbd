// The thread that does a progress page's run (the copy or the removal) while
// the page shows.
#pragma once

#include "framework/thread.h"
#include "pages/page_progress.h"

namespace app {

class WorkerThread : public framework::Thread {
 public:
  // `runEnded` is set once the run's last step is done.
  WorkerThread(PageProgress::Work work, PageProgress& page, framework::Event& runEnded);

  // The whole run; afterwards the thread idles until the process ends.
  bool InitInstance() override;

 private:
  PageProgress::Work work_;
  PageProgress& page_;
  framework::Event& runEnded_;
};

}  // namespace app
