// The setup without questions (/quiet, /passive): which packages, where, what
// a failure is answered with, and the exit code. The work itself is the
// wizard's RunInstallation.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/destination_check.h"
#include "app/install_log.h"
#include "app/installation_run.h"
#include "app/wizard_session.h"

namespace app {

inline constexpr int kUnattendedRetries = 2;
inline constexpr std::chrono::milliseconds kUnattendedRetryDelay{2000};

// Retries a failure twice, two seconds apart, then aborts.
FileErrorAnswer UnattendedAnswer(const FailureQuestion& question,
                                 const std::function<void(std::chrono::milliseconds)>& sleep);

// The catalogue's valid packages in the wizard's display order (by title,
// case-insensitive, ties in catalogue order): all of them when `requested`
// is empty or nullopt, else only the requested ones. nullopt, with the first
// unknown name in *unknown, when a requested name is not a valid package.
std::optional<std::vector<PackageEntry>> SelectPackages(const std::vector<PackageEntry>& catalogue,
                                                        const std::optional<std::vector<std::wstring>>& requested,
                                                        std::wstring* unknown);

// /force writes every file, /repair compares each; without either, files
// still as the setup left them are skipped.
CopyRule CopyRuleFor(const SetupOptions& options);

struct UnattendedPlan {
  int exitCode = 0;  // 0: go on with `job`
  InstallationJob job;
};

// Chooses the packages, settles the destination (the options' over the
// session's) and the copy rule, and checks the destination; the job answers
// failures by itself, treats an
// unopenable package as a failure and logs to `log`.
UnattendedPlan PlanUnattendedInstallation(WizardSession& session, const SetupOptions& options, InstallLog& log,
                                          DestinationFileSystem& fileSystem);

// 0 when it ran through; 1602 when the user cancelled it, in every mode;
// after Abort or a failure 1602 in the wizard (its user chose to stop), 1603
// unattended.
int ExitCodeOfRun(SetupMode mode, RunEnd end);

// The whole /quiet run on this thread: plan, run, exit code (not logged: the
// caller writes the end line). Anything that goes wrong is logged and ends
// it with 1603; nothing is thrown.
int RunQuietInstallation(WizardSession& session, const SetupOptions& options, InstallLog& log);

}  // namespace app
