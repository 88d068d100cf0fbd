// The last page: starts the worker that installs the chosen packages and
// shows its progress; the worker changes the controls through RunView.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "app/installation_run.h"
#include "framework/controls.h"
#include "framework/property_page.h"
#include "framework/thread.h"

namespace app {

class InstallLog;
class WizardSession;

class PageCopyFiles : public framework::PropertyPage, public RunView {
 public:
  // The run logs to `log` (which may not be open).
  PageCopyFiles(WizardSession& session, InstallLog& log);

  // Unattended (/passive): the page runs this job instead of the session's,
  // asks nothing and presses Finish itself when the run ends.
  void RunUnattended(InstallationJob job);

  // Returns once the run this page started (if any) has taken its last step;
  // answers the thread's messages meanwhile, as the run's end sends some.
  void WaitForRun();
  // After WaitForRun: nullopt when no run started, else how it ended.
  std::optional<RunEnd> RunOutcome() const { return runStarted_ ? std::optional<RunEnd>(runEnd_) : std::nullopt; }

  // Called on the worker thread once the run has taken its last step.
  void RunEnded(RunEnd end);

  // Called on the worker thread: each is a blocking message to the control,
  // carried out by the user-interface thread.
  void SetOverallRange(int upper) override;
  void SetOverallPosition(int position) override;
  void SetPackageRange(int upper) override;
  void SetPackagePosition(int position) override;
  void SetCurrentFileText(const std::wstring& text) override;
  void SetHeadingText(const std::wstring& text) override;
  void ShowFinishedText() override;
  void ShowCancelledText() override;
  void EnableFinishButton() override;
  void DisableCancel() override;
  void EnableSheet() override;
  FileErrorAnswer AskAbortRetryIgnore(const std::wstring& message) override;

 protected:
  void DoDataExchange(framework::DataExchange& dx) override;
  bool OnQueryCancel() override;
  void OnCancel() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;

 private:
  framework::ProgressCtrl overallProgress_;
  framework::ProgressCtrl packageProgress_;
  std::wstring currentFile_;
  framework::StaticCtrl currentFileLabel_;
  framework::StaticCtrl headingLabel_;
  framework::StaticCtrl finishedText_;
  framework::StaticCtrl cancelledText_;

  void PressFinishWhenUnattended() const;

  WizardSession& session_;
  InstallLog& log_;
  std::optional<InstallationJob> unattendedJob_;
  bool runStarted_ = false;
  // Written by the worker before runEnded_ is set, read after it.
  RunEnd runEnd_ = RunEnd::kStopped;
  framework::Event runEnded_;
  // From the start of the run until the worker's last step.
  std::atomic<bool> running_{false};
  // Set by the user interface when the user says Yes to stopping; read by
  // the run on the worker thread.
  std::atomic<bool> stopRequested_{false};
  // The stop question is showing: a second Cancel meanwhile is not asked.
  bool askingToStop_ = false;
};

}  // namespace app
