// The last page: starts the worker that installs the chosen packages and
// shows its progress; the worker changes the controls through CopyPageView.
#pragma once

#include <optional>
#include <string>

#include "app/installation_run.h"
#include "framework/controls.h"
#include "framework/property_page.h"
#include "framework/thread.h"

class InstallLog;
class WizardSession;

class PageCopyFiles : public framework::PropertyPage, public CopyPageView {
 public:
  // The run logs to `log` (which may not be open).
  PageCopyFiles(WizardSession& session, InstallLog& log);

  // Unattended (/passive): the page runs this job instead of the session's,
  // asks nothing and presses Finish itself when the run ends.
  void RunUnattended(InstallationJob job);

  // Returns once the run this page started (if any) has taken its last step;
  // answers the thread's messages meanwhile, as the run's end sends some.
  void WaitForRun();
  // After WaitForRun: nullopt when no run started, else whether it ran
  // through (false after Abort).
  std::optional<bool> RunOutcome() const { return runStarted_ ? std::optional<bool>(ranThrough_) : std::nullopt; }

  // Called on the worker thread once the run has taken its last step.
  void RunEnded(bool ranThrough);

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
  void EnableSheet() override;
  FileErrorAnswer AskAbortRetryIgnore(const std::wstring& message) override;

 protected:
  void DoDataExchange(framework::DataExchange& dx) override;
  void OnCancel() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;

 private:
  framework::ProgressCtrl m_overallProgress;
  framework::ProgressCtrl m_packageProgress;
  std::wstring m_currentFile;
  framework::StaticCtrl m_currentFileLabel;
  framework::StaticCtrl m_headingLabel;
  framework::StaticCtrl m_finishedText;
  framework::StaticCtrl m_cancelledText;

  void PressFinishWhenUnattended() const;

  WizardSession& session_;
  InstallLog& log_;
  std::optional<InstallationJob> unattendedJob_;
  bool runStarted_ = false;
  // Written by the worker before runEnded_ is set, read after it.
  bool ranThrough_ = false;
  framework::Event runEnded_;
};
