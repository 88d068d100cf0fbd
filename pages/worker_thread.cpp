#include "pages/worker_thread.h"

namespace app {

WorkerThread::WorkerThread(PageProgress::Work work, PageProgress& page, framework::Event& runEnded)
    : work_(std::move(work)), page_(page), runEnded_(runEnded) {}

bool WorkerThread::InitInstance() {
  work_(page_);
  page_.RunEnded();
  runEnded_.Set();
  return true;
}

}  // namespace app
