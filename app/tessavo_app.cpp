#include "app/tessavo_app.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <optional>

#include "app/destination_check.h"
#include "app/exit_codes.h"
#include "app/install_record.h"
#include "app/installed_setup.h"
#include "app/removal_run.h"
#include "app/setup_arguments.h"
#include "app/tessavo_wizard_sheet.h"
#include "app/unattended_install.h"
#include "framework/message_box.h"
#include "pages/page_choose_files.h"
#include "pages/page_copy_files.h"
#include "pages/page_destination_folder.h"
#include "pages/page_remove_files.h"
#include "pages/page_welcome.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "resources/texts_en.h"

namespace app {

namespace {

CTessavoApp theApp;

// The longest path the system hands out: the setup copy's path goes into the
// Installed-apps entry and is compared with the running program's.
constexpr std::size_t kLongPathCapacity = 32768;

void AddPage(TessavoWizardSheet& sheet, framework::PropertyPage& page) {
  page.m_psp.dwFlags &= ~PSP_HASHELP;
  sheet.AddPage(&page);
}

ProductFacts ReadProductFacts() {
  ProductFacts product;
  product.name = framework::ProgramVersionString(L"ProductName");
  product.version = framework::ProgramVersionString(L"ProductVersion");
  if (product.version.empty()) product.version = framework::ProgramVersionString(L"FileVersion");
  if (product.version.empty()) product.version = framework::ProgramVersion();
  product.publisher = framework::ProgramVersionString(L"CompanyName");
  return product;
}

RecordKeeper::Hooks RecordHooks(const SetupPlace& place) {
  RecordKeeper::Hooks hooks;
  hooks.programPath = platform::ProgramPath(kLongPathCapacity);
  hooks.writeEntry = [place, product = ReadProductFacts()](const InstallRecord& record,
                                                           const std::wstring& destination) {
    return WriteUninstallEntry(MakeUninstallEntry(product, place, record, destination, platform::LocalTime()));
  };
  return hooks;
}

// Why the preview found nothing to remove, for the wizard's box.
std::wstring NothingRemovedText(const SetupPlace& place, const RemovalPreview& preview) {
  if (preview.exitCode == kExitNothingInstalled) {
    return preview.missingPackage.empty() ? std::wstring(texts_en::kNotInstalled)
                                          : texts_en::Filled(texts_en::kPackageNotInstalled, preview.missingPackage);
  }
  // The preview has logged the fault; the box says it again to the one who
  // may have no log.
  const RecordReading& reading = preview.failure;
  std::wstring why = texts_en::kGenericFileError;
  if (reading.status == RecordReading::Status::kDamaged) {
    why = reading.line == 0 ? reading.reason
                            : texts_en::Filled(texts_en::kRecordLine, std::to_wstring(reading.line), reading.reason);
  } else if (reading.status == RecordReading::Status::kUnreadable) {
    why = reading.error.Text();
  }
  return texts_en::Filled(texts_en::kRecordUnreadable, place.Record(), why);
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
  // The copy in the temporary folder that removes the setup copy after its
  // last run: it has nothing else to do.
  if (const std::optional<int> code = platform::RunRemovalAfterExit(arguments)) return *code;

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

  if (options.uninstall) {
    const int code = RunUninstall(options, log);
    log.SetupEnded(code);
    return code;
  }

  // What the run commits, recorded for a later removal. It goes before the
  // log it writes to.
  std::optional<RecordKeeper> recordKeeper;
  if (const std::optional<SetupPlace> place = DefaultSetupPlace()) {
    recordKeeper.emplace(*place, &log, RecordHooks(*place));
    session_.SetRecordKeeper(&*recordKeeper);
  } else {
    log.Write(texts_en::kNotRecorded);
  }
  session_.SetUpFolders(GatherStartupFacts(framework::LoadResourceString(IDS_DESTINATION_SUFFIX)));
  if (options.destination) session_.SetDestinationFolder(*options.destination);

  int exitCode = kExitSuccess;
  switch (options.mode) {
    case SetupMode::kQuiet: exitCode = RunQuietInstallation(session_, options, log); break;
    case SetupMode::kPassive: exitCode = RunPassive(options, log); break;
    case SetupMode::kWizard: exitCode = RunWizard(options, log); break;
  }
  session_.SetRecordKeeper(nullptr);
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

  // The destination page's check box may change it; /repair stays.
  session_.SetCopyRule(CopyRuleFor(options));
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

  RunSheet(sheet, copyFiles);
  // No run: the sheet was cancelled on one of the pages before it.
  const std::optional<RunEnd> outcome = copyFiles.RunOutcome();
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

  RunSheet(sheet, copyFiles);
  return ExitCodeOfRun(SetupMode::kPassive, copyFiles.RunOutcome().value_or(RunEnd::kStopped));
}

int CTessavoApp::RunUninstall(const SetupOptions& options, InstallLog& log) {
  const bool wizard = options.mode == SetupMode::kWizard;
  const std::optional<SetupPlace> place = DefaultSetupPlace();
  // Nowhere to have kept a record: nothing was ever installed here.
  if (!place) {
    log.Write(texts_en::kNotInstalled);
    if (wizard) framework::MessageBox(nullptr, texts_en::kNotInstalled, MB_OK | MB_ICONINFORMATION);
    return kExitNothingInstalled;
  }
  const RemovalPreview preview = PreviewRemoval(*place, options.packages, log);
  if (preview.exitCode != kExitSuccess) {
    if (wizard) {
      framework::MessageBox(
          nullptr, NothingRemovedText(*place, preview),
          preview.exitCode == kExitNothingInstalled ? MB_OK | MB_ICONINFORMATION : MB_OK | MB_ICONERROR);
    }
    return preview.exitCode;
  }
  if (wizard && framework::MessageBox(nullptr, RemovalQuestionText(preview), MB_YESNO | MB_ICONQUESTION) != IDYES) {
    log.Write(texts_en::kRemovalDeclined);
    return kExitUserCancel;
  }

  RemovalJob job;
  job.place = *place;
  job.record = preview.record;
  job.packages = preview.packages;
  job.log = &log;
  job.forgetInstallation = [&log, place = *place] {
    ForgetInstallation(place, platform::ProgramPath(kLongPathCapacity), log);
  };
  job.keepInstallation = [&log](const InstallRecord& remaining) {
    const platform::ErrorCode error = UpdateUninstallEntrySize(remaining);
    if (error != platform::kErrorSuccess)
      log.Write(texts_en::Filled(texts_en::kEntrySizeNotUpdated, SystemErrorMessage(error)));
  };
  if (options.mode == SetupMode::kQuiet) {
    SilentRunView view;
    return ExitCodeOfRemoval(RunRemoval(job, view));
  }

  TessavoWizardSheet sheet;
  sheet.SetWizardMode();
  PageRemoveFiles removeFiles(std::move(job), log);
  if (!wizard) removeFiles.RunUnattended();
  AddPage(sheet, removeFiles);
  RunSheet(sheet, removeFiles);
  return ExitCodeOfRemoval(removeFiles.RunOutcome());
}

void CTessavoApp::RunSheet(TessavoWizardSheet& sheet, PageProgress& runPage) {
  m_pRunPage = &runPage;
  m_pMainWnd = &sheet;
  sheet.DoModal();
  m_pRunPage->WaitForRun();
  m_pMainWnd = nullptr;
  m_pRunPage = nullptr;
}

}  // namespace app
