#include "app/tessavo_app.h"

#include <windows.h>
#include <commctrl.h>

#include <optional>

#include "app/destination_check.h"
#include "app/exit_codes.h"
#include "app/setup_arguments.h"
#include "app/tessavo_wizard_sheet.h"
#include "app/unattended_install.h"
#include "framework/message_box.h"
#include "pages/page_choose_files.h"
#include "pages/page_copy_files.h"
#include "pages/page_destination_folder.h"
#include "pages/page_welcome.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "resources/texts_en.h"

namespace app {

namespace {

CTessavoApp theApp;

void AddPage(TessavoWizardSheet& sheet, framework::PropertyPage& page) {
  page.m_psp.dwFlags &= ~PSP_HASHELP;
  sheet.AddPage(&page);
}

}  // namespace

bool CTessavoApp::InitInstance() {
  framework::InitCommonControls(ICC_WIN95_CLASSES);
  framework::Application::InitInstance();
  SetRegistryKey(L"Varnholt");

  exitCode_ = RunSetup(SplitSetupCommandLine(::GetCommandLineW()));
  return false;
}

int CTessavoApp::ExitInstance() { return exitCode_; }

int CTessavoApp::RunSetup(const std::vector<std::wstring>& arguments) {
  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  const SetupOptions& options = parsed.options;
  const bool quiet = options.mode == SetupMode::kQuiet;
  const bool wizard = options.mode == SetupMode::kWizard;

  if (!parsed.valid()) {
    if (!quiet) framework::MessageBox(nullptr, parsed.error + L"\n\n" + texts_en::kUsage, MB_OK | MB_ICONERROR);
    return kExitInvalidCommandLine;
  }
  // A quiet run shows no window, not even this one: a distribution tool
  // would wait for a box nobody sees.
  if (options.help) {
    if (!quiet) framework::MessageBox(nullptr, texts_en::kUsage, MB_OK | MB_ICONINFORMATION);
    return kExitSuccess;
  }

  // Taken before the log is opened: a second setup must not truncate the
  // log of the one that runs.
  platform::SetupLock lock;
  switch (lock.Acquire(platform::kSetupLockName)) {
    case platform::SetupLock::Outcome::kAcquired: break;
    case platform::SetupLock::Outcome::kHeldElsewhere:
      if (wizard) framework::MessageBox(nullptr, texts_en::kAlreadyRunning, MB_OK | MB_ICONWARNING);
      return kExitAlreadyRunning;
    case platform::SetupLock::Outcome::kFailed:
      // Without the lock two setups could write the same files.
      if (wizard)
        framework::MessageBox(nullptr, texts_en::Filled(texts_en::kCannotStart, SystemErrorMessage(lock.error())),
                              MB_OK | MB_ICONERROR);
      return kExitInstallFailure;
  }

  InstallLog log;
  if (options.logPath) {
    platform::ErrorCode error = platform::kErrorSuccess;
    if (!log.Open(*options.logPath, &error)) {
      if (!wizard) return kExitInstallFailure;
      framework::MessageBox(nullptr,
                            texts_en::Filled(texts_en::kLogNotWritable, *options.logPath, SystemErrorMessage(error)),
                            MB_OK | MB_ICONWARNING);
    }
  }
  log.SetupStarted(framework::ProgramVersion(), arguments);

  session_.SetUpFolders(GatherStartupFacts(framework::LoadResourceString(IDS_DESTINATION_SUFFIX)));
  if (options.destination) session_.SetDestinationFolder(*options.destination);

  int exitCode = kExitSuccess;
  switch (options.mode) {
    case SetupMode::kQuiet: exitCode = RunQuietInstallation(session_, options, log); break;
    case SetupMode::kPassive: exitCode = RunPassive(options, log); break;
    case SetupMode::kWizard: exitCode = RunWizard(options, log); break;
  }
  log.SetupEnded(exitCode);
  return exitCode;
}

int CTessavoApp::RunWizard(const SetupOptions& options, InstallLog& log) {
  // Named packages are checked before any page shows.
  std::optional<std::vector<std::wstring>> ticks;
  if (options.packages) {
    std::wstring unknown;
    const std::optional<std::vector<PackageEntry>> named =
        SelectPackages(session_.ReadCatalogue(), options.packages, &unknown);
    if (!named) {
      const std::wstring text = texts_en::Filled(texts_en::kUnknownPackage, unknown);
      log.Write(text);
      framework::MessageBox(nullptr, text, MB_OK | MB_ICONERROR);
      return kExitInvalidCommandLine;
    }
    ticks = PackageNames(*named);
  }

  TessavoWizardSheet sheet;
  sheet.SetWizardMode();
  PageWelcome welcome;
  PageChooseFiles chooseFiles(session_);
  if (ticks) chooseFiles.TickOnFirstShowing(std::move(*ticks));
  PageDestinationFolder destinationFolder(session_);
  PageCopyFiles copyFiles(session_, log);
  for (framework::PropertyPage* page :
       {static_cast<framework::PropertyPage*>(&welcome), static_cast<framework::PropertyPage*>(&chooseFiles),
        static_cast<framework::PropertyPage*>(&destinationFolder), static_cast<framework::PropertyPage*>(&copyFiles)}) {
    AddPage(sheet, *page);
  }

  // No run: the sheet was cancelled on one of the pages before it.
  const std::optional<RunEnd> outcome = RunSheet(sheet, copyFiles);
  return outcome ? ExitCodeOfRun(SetupMode::kWizard, *outcome) : kExitUserCancel;
}

int CTessavoApp::RunPassive(const SetupOptions& options, InstallLog& log) {
  SystemDestinationFileSystem fileSystem;
  UnattendedPlan plan = PlanUnattendedInstallation(session_, options, log, fileSystem);
  if (plan.exitCode != kExitSuccess) return plan.exitCode;

  TessavoWizardSheet sheet;
  sheet.SetWizardMode();
  PageCopyFiles copyFiles(session_, log);
  copyFiles.RunUnattended(std::move(plan.job));
  AddPage(sheet, copyFiles);

  return ExitCodeOfRun(SetupMode::kPassive, RunSheet(sheet, copyFiles).value_or(RunEnd::kStopped));
}

std::optional<RunEnd> CTessavoApp::RunSheet(TessavoWizardSheet& sheet, PageCopyFiles& copyFiles) {
  m_pCopyPage = &copyFiles;
  m_pMainWnd = &sheet;
  sheet.DoModal();
  m_pCopyPage->WaitForRun();
  m_pMainWnd = nullptr;
  m_pCopyPage = nullptr;
  return copyFiles.RunOutcome();
}

}  // namespace app
