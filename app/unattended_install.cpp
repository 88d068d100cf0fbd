#include "app/unattended_install.h"

#include <algorithm>
#include <cwctype>
#include <new>
#include <thread>

#include "app/exit_codes.h"
#include "app/space_check.h"
#include "package/package_path.h"

namespace app {

namespace {

bool LessIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                      [](wchar_t a, wchar_t b) { return std::towlower(a) < std::towlower(b); });
}

}  // namespace

FileErrorAnswer UnattendedAnswer(const FailureQuestion& question,
                                 const std::function<void(std::chrono::milliseconds)>& sleep) {
  if (question.attempt > kUnattendedRetries) return FileErrorAnswer::kAbort;
  if (sleep) sleep(kUnattendedRetryDelay);
  return FileErrorAnswer::kRetry;
}

std::optional<std::vector<PackageEntry>> SelectPackages(const std::vector<PackageEntry>& catalogue,
                                                        const std::optional<std::vector<std::wstring>>& requested,
                                                        std::wstring* unknown) {
  const bool all = !requested || requested->empty();
  if (!all) {
    for (const std::wstring& name : *requested) {
      const bool known = std::any_of(catalogue.begin(), catalogue.end(), [&name](const PackageEntry& offered) {
        return SamePackageName(offered.name, name);
      });
      if (!known) {
        if (unknown != nullptr) *unknown = name;
        return std::nullopt;
      }
    }
  }
  std::vector<PackageEntry> selected;
  for (const PackageEntry& package : catalogue) {
    const bool wanted = all || std::any_of(requested->begin(), requested->end(), [&](const std::wstring& name) {
                          return SamePackageName(package.name, name);
                        });
    if (wanted) selected.push_back(package);
  }
  std::stable_sort(selected.begin(), selected.end(),
                   [](const PackageEntry& a, const PackageEntry& b) { return LessIgnoringCase(a.title, b.title); });
  return selected;
}

CopyRule CopyRuleFor(const SetupOptions& options) {
  if (options.force) return CopyRule::kWriteAll;
  return options.repair ? CopyRule::kRepair : CopyRule::kSkipUnchanged;
}

UnattendedPlan PlanUnattendedInstallation(WizardSession& session, const SetupOptions& options, InstallLog& log,
                                          DestinationFileSystem& fileSystem) {
  UnattendedPlan plan;
  if (options.destination) session.SetDestinationFolder(*options.destination);
  session.SetCopyRule(CopyRuleFor(options));
  log.Folders(session.packageFolder(), session.destinationFolder());

  // The packages first: a wrong name must leave the destination untouched.
  const std::vector<PackageEntry> catalogue = session.ReadCatalogue();
  std::wstring unknown;
  const std::optional<std::vector<PackageEntry>> selected = SelectPackages(catalogue, options.packages, &unknown);
  // Files the catalogue leaves out are damaged or foreign: say so, since
  // nobody sees the list.
  for (const std::wstring& file : platform::FindFiles(session.packageFolder(), L"*.nwq")) {
    const std::optional<std::wstring> name = package::package_path::PackageNameOf(file);
    const auto listed = [&name](const PackageEntry& package) { return package.name == *name; };
    if (name && std::none_of(catalogue.begin(), catalogue.end(), listed)) log.LeftOut(file);
  }
  if (!selected) {
    log.UnknownPackage(unknown, session.packageFolder());
    plan.exitCode = kExitInvalidCommandLine;
    return plan;
  }
  if (selected->empty()) {
    log.NoValidPackage(session.packageFolder());
    plan.exitCode = kExitInstallFailure;
    return plan;
  }
  log.ChosenPackages(PackageNames(*selected));
  std::vector<PackageRow> rows;
  for (const PackageEntry& package : *selected)
    rows.push_back(PackageRow{true, false, package});
  session.ChoosePackages(rows);

  // Before the destination is created: a run that cannot fit writes nothing.
  const SpaceCheck space = CheckSpace(session.destinationFolder(), session.chosenPackages(), fileSystem);
  log.Space(session.destinationFolder(), space);
  if (!space.Fits()) {
    plan.exitCode = kExitInstallFailure;
    return plan;
  }

  const DestinationCheck check = CheckDestinationFolder(session.destinationFolder(), fileSystem);
  if (!check.passed()) {
    log.DestinationNotWritable(session.destinationFolder(), check);
    plan.exitCode = kExitInstallFailure;
    return plan;
  }

  plan.job = session.BuildInstallationJob();
  plan.job.answer = [](const FailureQuestion& question) {
    return UnattendedAnswer(question, [](std::chrono::milliseconds delay) { std::this_thread::sleep_for(delay); });
  };
  plan.job.unopenablePackageFails = true;
  plan.job.log = &log;
  return plan;
}

int ExitCodeOfRun(SetupMode mode, RunEnd end) {
  switch (end) {
    case RunEnd::kFinished: return kExitSuccess;
    case RunEnd::kCancelled: return kExitUserCancel;
    case RunEnd::kStopped: break;
  }
  return mode == SetupMode::kWizard ? kExitUserCancel : kExitInstallFailure;
}

int RunQuietInstallation(WizardSession& session, const SetupOptions& options, InstallLog& log) {
  try {
    SystemDestinationFileSystem fileSystem;
    const UnattendedPlan plan = PlanUnattendedInstallation(session, options, log, fileSystem);
    if (plan.exitCode != kExitSuccess) return plan.exitCode;
    SilentRunView view;
    return ExitCodeOfRun(SetupMode::kQuiet, RunInstallation(plan.job, view));
  } catch (...) {
    // Nobody sees a crash: the failure must reach the exit code, and the log
    // as far as it still can.
    try {
      std::wstring what = L"an unexpected error";
      try {
        throw;
      } catch (const FileError& error) {
        what = error.Text();
      } catch (const std::bad_alloc&) {
        what = L"out of memory";
      } catch (...) {
      }
      log.QuietRunFailed(what);
    } catch (...) {
    }
    return kExitInstallFailure;
  }
}

}  // namespace app
