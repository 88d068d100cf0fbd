// The page that shows a run with its two bars and the current file: the copy
// of the chosen packages, or the removal of the installed maps. A worker
// thread does the run and changes the controls through RunView; the page
// keeps Cancel's question and waits for the run's end.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "app/installation_run.h"
#include "framework/controls.h"
#include "framework/property_page.h"
#include "framework/thread.h"

namespace app {

class InstallLog;

class PageProgress : public framework::PropertyPage, public RunView {
 public:
  // What the page says beyond its dialog template; an empty text keeps the
  // template's.
  struct Texts {
    std::wstring heading;
    std::wstring finished;
    std::wstring cancelled;
    std::wstring stopQuestion;
  };
  // The whole run, on the worker thread, shown through `view`.
  using Work = std::function<void(RunView& view)>;

  // The stop question's answer goes to `log` (which may not be open).
  PageProgress(UINT dialogId, Texts texts, InstallLog& log);

  // Returns once the run this page started (if any) has taken its last step;
  // answers the thread's messages meanwhile, as the run's end sends some.
  void WaitForRun();
  bool RunStarted() const { return runStarted_; }

  // Called on the worker thread once the run has taken its last step.
  void RunEnded();

  // Called on the worker thread: each is a blocking message to the control,
  // carried out by the user-interface thread.
  void SetOverallRange(int upper) override;
  void SetOverallPosition(int position) override;
  void SetPackageRange(int upper) override;
  void SetPackagePosition(int position) override;
  void SetCurrentFileText(const std::wstring& text) override;
  void SetTimeLeftText(const std::wstring& text) override;
  void SetHeadingText(const std::wstring& text) override;
  void ShowFinishedText() override;
  void ShowCancelledText() override;
  void EnableFinishButton() override;
  void DisableCancel() override;
  void EnableSheet() override;
  FileErrorAnswer AskAbortRetryIgnore(const std::wstring& message) override;

 protected:
  // Called when the page shows: sets the run up from what the pages before
  // it chose and starts it through StartWorker. True once the worker runs;
  // false when the run ended without one, its end shown on the page.
  virtual bool BeginRun() = 0;
  // False, with the system's reason in `failure`, when no thread starts.
  bool StartWorker(Work work, std::wstring& failure);
  // For the run's stopRequested: whether the user said Yes to stopping.
  bool StopRequested() const;
  // Unattended (/passive): nothing but Cancel is asked, and the page presses
  // Finish itself when the run ends.
  void SetUnattended() { unattended_ = true; }
  InstallLog& log() const { return log_; }

  void DoDataExchange(framework::DataExchange& dx) override;
  BOOL OnInitDialog() override;
  bool OnQueryCancel() override;
  void OnCancel() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;

 private:
  void PressFinishWhenUnattended() const;

  framework::ProgressCtrl overallProgress_;
  framework::ProgressCtrl packageProgress_;
  std::wstring currentFile_;
  framework::StaticCtrl currentFileLabel_;
  // Only the copy's page has the line; the removal's leaves it unbound.
  framework::StaticCtrl timeLeftLabel_;
  framework::StaticCtrl headingLabel_;
  framework::StaticCtrl finishedText_;
  framework::StaticCtrl cancelledText_;

  const Texts texts_;
  InstallLog& log_;
  bool unattended_ = false;
  bool runStarted_ = false;
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
