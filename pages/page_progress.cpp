#include "pages/page_progress.h"

#include "app/copy_pacing.h"
#include "app/install_log.h"
#include "app/wizard_buttons.h"
#include "framework/message_box.h"
#include "pages/worker_thread.h"
#include "platform/platform.h"
#include "resources/resource.h"

namespace app {

PageProgress::PageProgress(UINT dialogId, Texts texts, InstallLog& log)
    : framework::PropertyPage(dialogId), texts_(std::move(texts)), log_(log) {}

void PageProgress::WaitForRun() {
  if (runStarted_) framework::WaitHandlingMessages(runEnded_);
}

void PageProgress::RunEnded() {
  running_ = false;
  PressFinishWhenUnattended();
}

// Posted behind the run's own PSM_SETWIZBUTTONS, so Finish is enabled by the
// time the sheet takes the press.
void PageProgress::PressFinishWhenUnattended() const {
  if (unattended_) ::PostMessageW(GetParent(), PSM_PRESSBUTTON, PSBTN_FINISH, 0);
}

bool PageProgress::StartWorker(Work work, std::wstring& failure) {
  if (framework::BeginThread<WorkerThread>(std::move(work), *this, runEnded_) != nullptr) return true;
  failure = platform::SystemErrorText(platform::LastError());
  return false;
}

bool PageProgress::StopRequested() const {
  PaceCopyRun();
  return stopRequested_.load();
}

void PageProgress::DoDataExchange(framework::DataExchange& dx) {
  framework::PropertyPage::DoDataExchange(dx);
  dx.Control(IDC_PROGRESS_OVERALL, overallProgress_);
  dx.Control(IDC_PROGRESS_PACKAGE, packageProgress_);
  dx.Text(IDC_CURRENT_FILE, currentFile_);
  dx.Control(IDC_CURRENT_FILE, currentFileLabel_);
  dx.Control(IDC_TIME_LEFT, timeLeftLabel_);
  dx.Control(IDC_HEADING, headingLabel_);
  dx.Control(IDC_FINISHED_TEXT, finishedText_);
  dx.Control(IDC_CANCELLED_TEXT, cancelledText_);
}

BOOL PageProgress::OnInitDialog() {
  const BOOL result = framework::PropertyPage::OnInitDialog();
  if (!texts_.heading.empty()) headingLabel_.SetWindowText(texts_.heading);
  if (!texts_.finished.empty()) finishedText_.SetWindowText(texts_.finished);
  if (!texts_.cancelled.empty()) cancelledText_.SetWindowText(texts_.cancelled);
  return result;
}

// While the run goes, Cancel asks; the sheet stays open either way, and a Yes
// reaches the run through the stop flag. Once the run has ended, nothing is
// left to stop and the sheet may close: the run's end stands.
bool PageProgress::OnQueryCancel() {
  if (!running_ || askingToStop_) return !running_;
  askingToStop_ = true;
  const int answer = framework::MessageBox(GetParent(), texts_.stopQuestion, MB_YESNO | MB_ICONQUESTION);
  askingToStop_ = false;
  log_.CancelAnswered(answer == IDYES);
  if (answer == IDYES) stopRequested_ = true;
  return false;
}

// The sheet closes only once the run has ended: nothing is left to undo.
void PageProgress::OnCancel() {}

BOOL PageProgress::OnSetActive() {
  SetWizardButtons(kWizardDisabledFinish);
  UpdateData(false);
  running_ = true;
  // Without a worker nothing would ever enable Finish.
  runStarted_ = BeginRun();
  if (!runStarted_) {
    running_ = false;
    PressFinishWhenUnattended();
  }
  return framework::PropertyPage::OnSetActive();
}

LRESULT PageProgress::OnWizardNext() {
  UpdateData(true);
  return framework::PropertyPage::OnWizardNext();
}

void PageProgress::SetOverallRange(int upper) { overallProgress_.SetRange32(0, upper); }

void PageProgress::SetOverallPosition(int position) { overallProgress_.SetPos(position); }

void PageProgress::SetPackageRange(int upper) { packageProgress_.SetRange(0, static_cast<short>(upper)); }

void PageProgress::SetPackagePosition(int position) { packageProgress_.SetPos(position); }

void PageProgress::SetCurrentFileText(const std::wstring& text) { currentFileLabel_.SetWindowText(text); }

void PageProgress::SetTimeLeftText(const std::wstring& text) {
  if (timeLeftLabel_.GetSafeHwnd() != nullptr) timeLeftLabel_.SetWindowText(text);
}

void PageProgress::SetHeadingText(const std::wstring& text) { headingLabel_.SetWindowText(text); }

void PageProgress::ShowFinishedText() { finishedText_.ShowWindow(SW_SHOW); }

void PageProgress::ShowCancelledText() { cancelledText_.ShowWindow(SW_SHOW); }

void PageProgress::EnableFinishButton() { SetWizardButtons(kWizardFinish); }

void PageProgress::DisableCancel() { CancelToClose(); }

void PageProgress::EnableSheet() {
  framework::Window sheet;
  sheet.Attach(GetParent());
  sheet.EnableWindow(true);
}

FileErrorAnswer PageProgress::AskAbortRetryIgnore(const std::wstring& message) {
  // The unattended job answers its failures itself; should anything reach
  // the page all the same, nobody is there to answer.
  if (unattended_) {
    return FileErrorAnswer::kAbort;
  }
  switch (framework::MessageBox(GetParent(), message, MB_ABORTRETRYIGNORE | MB_ICONERROR)) {
    case IDRETRY: return FileErrorAnswer::kRetry;
    case IDIGNORE: return FileErrorAnswer::kIgnore;
    default: return FileErrorAnswer::kAbort;
  }
}

}  // namespace app
