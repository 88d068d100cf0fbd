#include "app/unattended_install.h"

#include "app/exit_codes.h"

FileErrorAnswer UnattendedAnswer(const FailureQuestion& question,
                                 const std::function<void(std::chrono::milliseconds)>& sleep) {
  if (question.attempt > kUnattendedRetries) return FileErrorAnswer::kAbort;
  if (sleep) sleep(kUnattendedRetryDelay);
  return FileErrorAnswer::kRetry;
}

std::optional<std::vector<std::wstring>> SelectPackages(const std::vector<std::wstring>&,
                                                        const std::vector<std::wstring>&,
                                                        const std::optional<std::vector<std::wstring>>&,
                                                        std::wstring*) {
  return std::vector<std::wstring>{};
}

UnattendedPlan PlanUnattendedInstallation(WizardSession&, const SetupOptions&, InstallLog&, DestinationFileSystem&) {
  return {kExitInstallFailure, {}};
}

int ExitCodeOfRun(SetupMode mode, bool ranThrough) {
  if (ranThrough) return kExitSuccess;
  return mode == SetupMode::kWizard ? kExitUserCancel : kExitInstallFailure;
}

int RunQuietInstallation(WizardSession&, const SetupOptions&, InstallLog&) { return kExitInstallFailure; }

void LogSetupStart(InstallLog&, const std::wstring&, const std::vector<std::wstring>&) {}
void LogSetupFolders(InstallLog&, const std::wstring&, const std::wstring&) {}
void LogChosenPackages(InstallLog&, const std::vector<std::wstring>&) {}
void LogSetupEnd(InstallLog&, int) {}
