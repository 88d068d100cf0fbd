#include "pages/worker_thread.h"

#include "pages/page_copy_files.h"

namespace app {

WorkerThread::WorkerThread(InstallationJob job, PageCopyFiles& copyPage, framework::Event& runEnded)
    : job_(std::move(job)), copyPage_(copyPage), runEnded_(runEnded) {}

bool WorkerThread::InitInstance() {
  copyPage_.RunEnded(RunInstallation(job_, copyPage_));
  runEnded_.Set();
  return true;
}

}  // namespace app
