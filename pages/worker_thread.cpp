#include "pages/worker_thread.h"

#include "pages/page_copy_files.h"

WorkerThread::WorkerThread(InstallationJob job, PageCopyFiles& copyPage, framework::Event& runEnded)
    : job_(std::move(job)), m_pCopyPage(&copyPage), runEnded_(runEnded) {}

bool WorkerThread::InitInstance() {
  m_pCopyPage->RunEnded(RunInstallation(job_, *m_pCopyPage));
  runEnded_.Set();
  return true;
}
