// The last page: starts the worker that installs the chosen packages and
// shows its progress; the worker changes the controls through CopyPageView.
#pragma once

#include <string>

#include "app/installation_run.h"
#include "framework/controls.h"
#include "framework/property_page.h"
#include "framework/thread.h"

class WizardSession;

class PageCopyFiles : public framework::PropertyPage, public CopyPageView {
 public:
  explicit PageCopyFiles(WizardSession& session);

  // Returns once the run this page started (if any) has taken its last step;
  // answers the thread's messages meanwhile, as the run's end sends some.
  void WaitForRun();

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

  WizardSession& session_;
  bool runStarted_ = false;
  framework::Event runEnded_;
};
