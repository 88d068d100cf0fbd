#include "app/unattended_install.h"

#include <algorithm>
#include <cwctype>
#include <new>
#include <numeric>
#include <thread>

#include "app/exit_codes.h"
#include "app/package_sizes.h"
#include "app/space_check.h"
#include "package/package_path.h"

namespace {

bool LessIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                      [](wchar_t a, wchar_t b) { return std::towlower(a) < std::towlower(b); });
}

bool EqualIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](wchar_t a, wchar_t b) {
           return std::towlower(a) == std::towlower(b);
         });
}

}  // namespace

FileErrorAnswer UnattendedAnswer(const FailureQuestion& question,
                                 const std::function<void(std::chrono::milliseconds)>& sleep) {
  if (question.attempt > kUnattendedRetries) return FileErrorAnswer::kAbort;
  if (sleep) sleep(kUnattendedRetryDelay);
  return FileErrorAnswer::kRetry;
}

std::optional<std::vector<std::wstring>> SelectPackages(const std::vector<std::wstring>& names,
                                                        const std::vector<std::wstring>& titles,
                                                        const std::optional<std::vector<std::wstring>>& requested,
                                                        std::wstring* unknown) {
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  auto title = [&titles](std::size_t i) { return i < titles.size() ? titles[i] : std::wstring(); };
  std::stable_sort(order.begin(), order.end(),
                   [&title](std::size_t a, std::size_t b) { return LessIgnoringCase(title(a), title(b)); });

  const bool all = !requested || requested->empty();
  if (!all) {
    for (const std::wstring& name : *requested) {
      const bool known = std::any_of(names.begin(), names.end(),
                                     [&name](const std::wstring& offered) { return EqualIgnoringCase(offered, name); });
      if (!known) {
        if (unknown != nullptr) *unknown = name;
        return std::nullopt;
      }
    }
  }
  std::vector<std::wstring> selected;
  for (std::size_t i : order) {
    const bool wanted = all || std::any_of(requested->begin(), requested->end(),
                                           [&](const std::wstring& name) { return EqualIgnoringCase(names[i], name); });
    if (wanted) selected.push_back(names[i]);
  }
  return selected;
}

UnattendedPlan PlanUnattendedInstallation(WizardSession& session, const SetupOptions& options, InstallLog& log,
                                          DestinationFileSystem& fileSystem) {
  UnattendedPlan plan;
  if (options.destination) session.SetDestinationFolder(*options.destination);
  log.Folders(session.PackageFolder(), session.DestinationFolder());

  // The packages first: a wrong name must leave the destination untouched.
  std::vector<std::wstring> names;
  std::vector<std::wstring> titles;
  session.GetPackageList(names, titles);
  std::wstring unknown;
  const std::optional<std::vector<std::wstring>> selected = SelectPackages(names, titles, options.packages, &unknown);
  // Files the catalogue leaves out are damaged or foreign: say so, since
  // nobody sees the list.
  for (const std::wstring& file : platform::FindFiles(session.PackageFolder(), L"*.nwq")) {
    const std::optional<std::wstring> name = package_path::PackageNameOf(file);
    if (name && std::find(names.begin(), names.end(), *name) == names.end()) {
      log.LeftOut(file);
    }
  }
  if (!selected) {
    log.UnknownPackage(unknown, session.PackageFolder());
    plan.exitCode = kExitInvalidCommandLine;
    return plan;
  }
  if (selected->empty()) {
    log.NoValidPackage(session.PackageFolder());
    plan.exitCode = kExitInstallFailure;
    return plan;
  }
  log.ChosenPackages(*selected);

  // Before the destination is created: a run that cannot fit writes nothing.
  const SpaceCheck space =
      CheckSpace(session.DestinationFolder(), ReadPackageSizes(session.PackageFolder(), *selected), fileSystem);
  log.Space(session.DestinationFolder(), space);
  if (!space.Fits()) {
    plan.exitCode = kExitInstallFailure;
    return plan;
  }

  const DestinationCheck check = CheckDestinationFolder(session.DestinationFolder(), fileSystem);
  if (!check.passed()) {
    log.DestinationNotWritable(session.DestinationFolder(), check);
    plan.exitCode = kExitInstallFailure;
    return plan;
  }

  std::vector<PackageRow> rows;
  for (const std::wstring& name : *selected)
    rows.push_back(PackageRow{true, false, name});
  session.ChoosePackages(rows);
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
