// /uninstall: the recorded maps removed by the rules of the install record
// (install_record.h), in the wizard, /passive and /quiet alike, shown through
// the same RunView as the copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/install_record.h"
#include "app/installation_run.h"
#include "app/installed_setup.h"

namespace app {

class InstallLog;

inline constexpr int kExitNothingInstalled = 1605;
inline constexpr int kExitRestartRequired = 3010;

enum class RemovalEnd {
  kRemoved,        // everything planned went
  kRestartNeeded,  // and some of it only at the next restart
  kCancelled,      // the user stopped it; what was not removed stays recorded
  kFailed,         // a file or the record could not go; the log names it
};

int ExitCodeOfRemoval(RemovalEnd end);

// What is asked before anything is removed.
struct RemovalPreview {
  int exitCode = 0;  // 0: ask and go on; 1605 nothing (or a named package not) installed; 1603 unreadable record
  InstallRecord record;
  std::optional<std::set<std::wstring>> packages;  // nullopt: every recorded one
  std::size_t packageCount = 0;
  std::uint64_t bytes = 0;
  std::vector<std::wstring> destinations;  // those holding something of the packages
  std::wstring missingPackage;             // for 1605: the named package the record lacks
  RecordReading failure;                   // for 1603: why the record did not read (without a record)
};

// Reads the record at the place and checks the requested packages against
// it; logs what it finds.
RemovalPreview PreviewRemoval(const SetupPlace& place, const std::optional<std::vector<std::wstring>>& requested,
                              InstallLog& log);

// "Remove the installed maps (%1 packages, %2) from %3?"
std::wstring RemovalQuestionText(const RemovalPreview& preview);

struct RemovalJob {
  SetupPlace place;
  InstallRecord record;
  std::optional<std::set<std::wstring>> packages;
  std::function<bool()> stopRequested;
  InstallLog* log = nullptr;  // not owned; may be null
  // When nothing remains recorded: GeoPath, the Installed-apps entry and the
  // setup copy go (the record is gone already). When something remains: the
  // entry's size follows the record.
  std::function<void()> forgetInstallation;
  std::function<void(const InstallRecord& remaining)> keepInstallation;
  DiskLook look = LookAtDisk;
};

// The whole removal; nothing escapes it. The view's bars move over the
// planned files and folders, its current-file text names each.
RemovalEnd RunRemoval(const RemovalJob& job, RunView& view) noexcept;

// What goes with the last of the maps, on this machine's stores: the GeoPath
// value, the entry, the setup copy (through RemoveAfterExit when it is the
// running program) and the setup's folders when empty. Logged.
void ForgetInstallation(const SetupPlace& place, const std::wstring& runningProgram, InstallLog& log);

}  // namespace app
