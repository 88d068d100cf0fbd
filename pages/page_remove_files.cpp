#include "pages/page_remove_files.h"

#include "app/install_log.h"
#include "resources/resource.h"
#include "resources/texts_en.h"

namespace app {

PageRemoveFiles::PageRemoveFiles(RemovalJob job, InstallLog& log)
    : PageProgress(IDD_REMOVE_FILES,
                   Texts{texts_en::kRemovalHeading,
                         std::wstring(texts_en::kRemovalFinished) + L"\r\n\r\n" + texts_en::kClickFinishToClose,
                         std::wstring(texts_en::kRemovalCancelled) + L"\r\n\r\n" + texts_en::kClickFinishToClose,
                         texts_en::kStopRemovalQuestion},
                   log),
      job_(std::move(job)) {}

bool PageRemoveFiles::BeginRun() {
  job_.stopRequested = [this] { return StopRequested(); };
  std::wstring failure;
  if (StartWorker([this](RunView& view) { runEnd_ = RunRemoval(job_, view); }, failure)) return true;
  // Nothing was removed: the record and the entry stay as they were.
  log().Write(texts_en::Filled(texts_en::kRemovalNotStarted, failure));
  SetHeadingText(L"");
  ShowCancelledText();
  EnableFinishButton();
  DisableCancel();
  return false;
}

}  // namespace app
