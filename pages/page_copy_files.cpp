#include "pages/page_copy_files.h"

#include "app/copy_pacing.h"
#include "app/install_log.h"
#include "app/unattended_install.h"
#include "app/wizard_buttons.h"
#include "app/wizard_session.h"
#include "framework/message_box.h"
#include "pages/worker_thread.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "resources/texts_en.h"

namespace app {

PageCopyFiles::PageCopyFiles(WizardSession& session, InstallLog& log)
    : framework::PropertyPage(IDD_COPY_FILES), session_(session), log_(log) {}

void PageCopyFiles::RunUnattended(InstallationJob job) { unattendedJob_ = std::move(job); }

void PageCopyFiles::WaitForRun() {
  if (runStarted_) framework::WaitHandlingMessages(runEnded_);
}

void PageCopyFiles::RunEnded(RunEnd end) {
  runEnd_ = end;
  running_ = false;
  PressFinishWhenUnattended();
}

// Posted behind the run's own PSM_SETWIZBUTTONS, so Finish is enabled by the
// time the sheet takes the press.
void PageCopyFiles::PressFinishWhenUnattended() const {
  if (unattendedJob_) ::PostMessageW(GetParent(), PSM_PRESSBUTTON, PSBTN_FINISH, 0);
}

void PageCopyFiles::DoDataExchange(framework::DataExchange& dx) {
  framework::PropertyPage::DoDataExchange(dx);
  dx.Control(IDC_PROGRESS_OVERALL, overallProgress_);
  dx.Control(IDC_PROGRESS_PACKAGE, packageProgress_);
  dx.Text(IDC_CURRENT_FILE, currentFile_);
  dx.Control(IDC_CURRENT_FILE, currentFileLabel_);
  dx.Control(IDC_HEADING, headingLabel_);
  dx.Control(IDC_FINISHED_TEXT, finishedText_);
  dx.Control(IDC_CANCELLED_TEXT, cancelledText_);
}

// While the run goes, Cancel asks; the sheet stays open either way, and a Yes
// reaches the run through the stop flag. Once the run has ended, nothing is
// left to stop and the sheet may close: the run's end stands.
bool PageCopyFiles::OnQueryCancel() {
  if (!running_ || askingToStop_) return !running_;
  askingToStop_ = true;
  const int answer = framework::MessageBox(GetParent(), texts_en::kStopQuestion, MB_YESNO | MB_ICONQUESTION);
  askingToStop_ = false;
  log_.CancelAnswered(answer == IDYES);
  if (answer == IDYES) stopRequested_ = true;
  return false;
}

// The sheet closes only once the run has ended: nothing is left to undo.
void PageCopyFiles::OnCancel() {}

BOOL PageCopyFiles::OnSetActive() {
  SetWizardButtons(kWizardDisabledFinish);
  UpdateData(false);
  InstallationJob job;
  if (unattendedJob_) {
    job = *unattendedJob_;
  } else {
    job = session_.BuildInstallationJob();
    job.log = &log_;
    log_.Folders(session_.packageFolder(), session_.destinationFolder());
    log_.ChosenPackages(PackageNames(session_.chosenPackages()));
  }
  job.stopRequested = [this] {
    PaceCopyRun();
    return stopRequested_.load();
  };
  running_ = true;
  // Without a worker nothing would ever enable Finish.
  runStarted_ = StartInstallation(job, *this, [&](std::wstring& failure) {
    if (framework::BeginThread<WorkerThread>(job, *this, runEnded_) != nullptr) return true;
    failure = platform::SystemErrorText(platform::LastError());
    return false;
  });
  if (!runStarted_) {
    running_ = false;
    PressFinishWhenUnattended();
  }
  return framework::PropertyPage::OnSetActive();
}

LRESULT PageCopyFiles::OnWizardNext() {
  UpdateData(true);
  return framework::PropertyPage::OnWizardNext();
}

void PageCopyFiles::SetOverallRange(int upper) { overallProgress_.SetRange32(0, upper); }

void PageCopyFiles::SetOverallPosition(int position) { overallProgress_.SetPos(position); }

void PageCopyFiles::SetPackageRange(int upper) { packageProgress_.SetRange(0, static_cast<short>(upper)); }

void PageCopyFiles::SetPackagePosition(int position) { packageProgress_.SetPos(position); }

void PageCopyFiles::SetCurrentFileText(const std::wstring& text) { currentFileLabel_.SetWindowText(text); }

void PageCopyFiles::SetHeadingText(const std::wstring& text) { headingLabel_.SetWindowText(text); }

void PageCopyFiles::ShowFinishedText() { finishedText_.ShowWindow(SW_SHOW); }

void PageCopyFiles::ShowCancelledText() { cancelledText_.ShowWindow(SW_SHOW); }

void PageCopyFiles::EnableFinishButton() { SetWizardButtons(kWizardFinish); }

void PageCopyFiles::DisableCancel() { CancelToClose(); }

void PageCopyFiles::EnableSheet() {
  framework::Window sheet;
  sheet.Attach(GetParent());
  sheet.EnableWindow(true);
}

FileErrorAnswer PageCopyFiles::AskAbortRetryIgnore(const std::wstring& message) {
  // The unattended job answers its failures itself; should anything reach
  // the page all the same, nobody is there to answer.
  if (unattendedJob_) {
    return FileErrorAnswer::kAbort;
  }
  switch (framework::MessageBox(GetParent(), message, MB_ABORTRETRYIGNORE | MB_ICONERROR)) {
    case IDRETRY: return FileErrorAnswer::kRetry;
    case IDIGNORE: return FileErrorAnswer::kIgnore;
    default: return FileErrorAnswer::kAbort;
  }
}

}  // namespace app
