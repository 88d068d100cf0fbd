#include "pages/page_copy_files.h"

#include "app/install_log.h"
#include "app/wizard_session.h"
#include "resources/resource.h"
#include "resources/texts_en.h"

namespace app {

// The template holds the copy's own texts.
PageCopyFiles::PageCopyFiles(WizardSession& session, InstallLog& log)
    : PageProgress(IDD_COPY_FILES, Texts{{}, {}, {}, texts_en::kStopQuestion}, log), session_(session) {}

void PageCopyFiles::RunUnattended(InstallationJob job) {
  unattendedJob_ = std::move(job);
  SetUnattended();
}

bool PageCopyFiles::BeginRun() {
  InstallationJob job;
  if (unattendedJob_) {
    job = *unattendedJob_;
  } else {
    job = session_.BuildInstallationJob();
    job.log = &log();
    log().Folders(session_.packageFolder(), session_.destinationFolder());
    log().ChosenPackages(PackageNames(session_.chosenPackages()));
  }
  job.stopRequested = [this] { return StopRequested(); };
  return StartInstallation(job, *this, [&](std::wstring& failure) {
    return StartWorker([this, job](RunView& view) { runEnd_ = RunInstallation(job, view); }, failure);
  });
}

}  // namespace app
