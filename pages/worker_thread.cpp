#include "pages/worker_thread.h"

#include "app/installation_run.h"
#include "app/tessavo_app.h"
#include "pages/page_copy_files.h"

bool WorkerThread::InitInstance() {
  CTessavoApp* app = GetTessavoApp();
  InstallationJob job;
  // Neither changes while the copy page shows: no page that writes them can
  // become active again before the run has ended.
  job.packageFolder = app->m_packageFolder;
  job.destinationFolder = app->m_destinationFolder;
  job.packages = app->m_chosenPackages;
  job.recordDestination = [app](std::wstring destination) { app->WriteGeoPath(std::move(destination)); };
  RunInstallation(job, *app->m_pCopyPage);
  return true;
}
