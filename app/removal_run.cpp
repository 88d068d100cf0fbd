#include "app/removal_run.h"

#include <algorithm>

#include "app/exit_codes.h"
#include "app/geo_path.h"
#include "app/install_log.h"
#include "app/package_entry.h"
#include "resources/texts_en.h"

namespace app {

namespace {

bool HoldsAnyOf(const RecordedDestination& destination, const std::set<std::wstring>& packages) {
  return std::any_of(destination.files.begin(), destination.files.end(),
                     [&](const RecordedFile& file) { return packages.contains(file.package); }) ||
         std::any_of(destination.folders.begin(), destination.folders.end(),
                     [&](const RecordedFolder& folder) { return packages.contains(folder.package); });
}

// The removal of one plan, step by step, with the view kept up to date.
class Removal {
 public:
  Removal(const RemovalJob& job, RunView& view)
      : job_(job), view_(view), log_(job.log != nullptr ? *job.log : unlogged_) {}

  RemovalEnd Run() {
    view_.SetOverallRange(100);
    view_.SetPackageRange(100);
    RemovalPlan plan = PlanRemoval(job_.record, job_.packages, job_.look);
    for (const std::wstring& path : plan.changedFiles)
      log_.FileKeptChanged(path);
    for (const std::wstring& path : plan.sharedFiles)
      log_.FileKeptShared(path);
    InstallRecord remaining = std::move(plan.remaining);
    const std::size_t total = plan.files.size() + plan.folders.size();
    std::size_t done = 0;
    std::vector<std::wstring> stayed;  // planned files that could not go

    for (std::size_t i = 0; i < plan.files.size(); ++i) {
      if (Stopped()) {
        // What was not removed stays recorded, folders included.
        for (std::size_t rest = i; rest < plan.files.size(); ++rest)
          RestoreEntries(&remaining, plan.files[rest]);
        for (const PlannedRemoval& folder : plan.folders)
          RestoreEntries(&remaining, folder);
        return Finish(remaining, RemovalEnd::kCancelled);
      }
      const PlannedRemoval& file = plan.files[i];
      view_.SetCurrentFileText(texts_en::kRemoving + file.path);
      if (!RemoveFile(file.path)) {
        RestoreEntries(&remaining, file);
        stayed.push_back(file.path);
      }
      Moved(++done, total);
    }
    for (const PlannedRemoval& folder : plan.folders) {
      // Only an empty one goes; nothing is ever removed with what it holds.
      if (platform::RemoveEmptyFolder(folder.path)) {
        log_.FolderRemoved(folder.path);
        Moved(++done, total);
        continue;
      }
      if (platform::IsFolder(folder.path)) log_.FolderKept(folder.path);
      // Held by a file that stays recorded, it goes with that file later;
      // one kept for the user's files is theirs.
      if (std::any_of(stayed.begin(), stayed.end(),
                      [&](const std::wstring& path) { return IsBelow(folder.path, path); }))
        RestoreEntries(&remaining, folder);
      Moved(++done, total);
    }
    return Finish(remaining, failed_    ? RemovalEnd::kFailed
                             : restart_ ? RemovalEnd::kRestartNeeded
                                        : RemovalEnd::kRemoved);
  }

  // The end steps, in the order the user sees them, as after a copy.
  void EndView(RemovalEnd end) {
    view_.SetPackagePosition(0);
    view_.SetOverallPosition(100);
    view_.EnableFinishButton();
    view_.DisableCancel();
    view_.SetHeadingText(L"");
    view_.SetCurrentFileText(L"");
    if (end == RemovalEnd::kCancelled) {
      view_.ShowCancelledText();
    } else {
      view_.ShowFinishedText();
    }
    view_.EnableSheet();
  }

  InstallLog& log() { return log_; }

 private:
  bool Stopped() { return job_.stopRequested && job_.stopRequested(); }

  void Moved(std::size_t done, std::size_t total) {
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    view_.SetOverallPosition(percent);
    view_.SetPackagePosition(percent);
  }

  // True when the file is gone or will go at the next restart.
  bool RemoveFile(const std::wstring& path) {
    if (platform::RemoveUnusedFile(path)) {
      log_.FileRemoved(path);
      return true;
    }
    const platform::ErrorCode code = platform::LastError();
    if (!job_.look(path)) {
      // Gone meanwhile, or something else than a file now: not ours to touch.
      return true;
    }
    if (platform::IsInUseError(code) && platform::RemoveAtRestart(path)) {
      log_.FileRemovedAtRestart(path);
      restart_ = true;
      return true;
    }
    log_.FileNotRemoved(path, code);
    failed_ = true;
    return false;
  }

  RemovalEnd Finish(InstallRecord& remaining, RemovalEnd end) {
    if (end == RemovalEnd::kCancelled) log_.RemovalCancelled();
    remaining.ended = true;
    if (remaining.Empty()) {
      if (!platform::RemoveFile(job_.place.Record()) && job_.look(job_.place.Record())) {
        log_.FileNotRemoved(job_.place.Record(), platform::LastError());
        end = end == RemovalEnd::kCancelled ? end : RemovalEnd::kFailed;
      } else if (job_.forgetInstallation) {
        job_.forgetInstallation();
      }
    } else {
      FileError error;
      if (!WriteInstallRecord(job_.place.Record(), remaining, &error)) {
        log_.RecordNotWritten(error);
        if (end != RemovalEnd::kCancelled) end = RemovalEnd::kFailed;
      }
      if (job_.keepInstallation) job_.keepInstallation(remaining);
    }
    EndView(end);
    return end;
  }

  const RemovalJob& job_;
  RunView& view_;
  InstallLog unlogged_;
  InstallLog& log_;
  bool failed_ = false;
  bool restart_ = false;
};

}  // namespace

int ExitCodeOfRemoval(RemovalEnd end) {
  switch (end) {
    case RemovalEnd::kRemoved: return kExitSuccess;
    case RemovalEnd::kRestartNeeded: return kExitRestartRequired;
    case RemovalEnd::kCancelled: return kExitUserCancel;
    case RemovalEnd::kFailed: break;
  }
  return kExitInstallFailure;
}

RemovalPreview PreviewRemoval(const SetupPlace& place, const std::optional<std::vector<std::wstring>>& requested,
                              InstallLog& log) {
  RemovalPreview preview;
  const std::wstring path = place.Record();
  RecordReading reading = ReadInstallRecord(path);
  if (reading.status == RecordReading::Status::kMissing ||
      (reading.status == RecordReading::Status::kRead && reading.record.Empty())) {
    log.NothingInstalled(path);
    preview.exitCode = kExitNothingInstalled;
    return preview;
  }
  if (reading.status != RecordReading::Status::kRead) {
    log.RecordUnreadable(path, reading);
    preview.exitCode = kExitInstallFailure;
    preview.failure = std::move(reading);
    return preview;
  }
  preview.record = std::move(reading.record);
  const std::set<std::wstring> recorded = preview.record.Packages();
  std::set<std::wstring> chosen = recorded;
  if (requested && !requested->empty()) {
    chosen.clear();
    for (const std::wstring& name : *requested) {
      const auto match = std::find_if(recorded.begin(), recorded.end(),
                                      [&](const std::wstring& package) { return SamePackageName(package, name); });
      if (match == recorded.end()) {
        log.PackageNotInstalled(name, path);
        preview.exitCode = kExitNothingInstalled;
        preview.missingPackage = name;
        return preview;
      }
      chosen.insert(*match);
    }
    preview.packages = chosen;
  }
  preview.packageCount = chosen.size();
  preview.bytes = preview.record.Bytes(chosen);
  for (const RecordedDestination& destination : preview.record.destinations)
    if (HoldsAnyOf(destination, chosen)) preview.destinations.push_back(destination.root);
  log.RemovalPlanned({chosen.begin(), chosen.end()}, preview.destinations, preview.bytes);
  return preview;
}

std::wstring RemovalQuestionText(const RemovalPreview& preview) {
  std::wstring destinations;
  for (const std::wstring& destination : preview.destinations)
    destinations += (destinations.empty() ? L"" : L"\n") + destination;
  return texts_en::Filled(texts_en::kRemoveQuestion, std::to_wstring(preview.packageCount),
                          platform::FormatByteSize(preview.bytes), destinations);
}

RemovalEnd RunRemoval(const RemovalJob& job, RunView& view) noexcept {
  try {
    Removal removal(job, view);
    try {
      return removal.Run();
    } catch (...) {
      // The record on the disk still lists everything this run did not
      // finish: a later removal meets what is gone as gone.
      removal.log().RemovalFailedUnexpectedly();
      removal.EndView(RemovalEnd::kFailed);
    }
  } catch (...) {
    view.EnableFinishButton();
    view.DisableCancel();
    view.EnableSheet();
  }
  return RemovalEnd::kFailed;
}

void ForgetInstallation(const SetupPlace& place, const std::wstring& runningProgram, InstallLog& log) {
  log.Forgotten(L"GeoPath", DeleteGeoPathValue());
  log.Forgotten(L"the Installed-apps entry", DeleteUninstallEntry());
  const std::wstring copy = place.SetupCopy();
  if (!runningProgram.empty() && SamePath(runningProgram, copy)) {
    log.SetupCopyRemovedAfterExit(copy, platform::RemoveAfterExit(copy, place.Folders()));
    return;
  }
  if (LookAtDisk(copy))
    log.Forgotten(L"the setup copy " + copy,
                  platform::RemoveFile(copy) ? platform::kErrorSuccess : platform::LastError());
  for (const std::wstring& folder : place.Folders())
    platform::RemoveEmptyFolder(folder);
}

}  // namespace app
