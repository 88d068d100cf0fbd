#include "pages/page_destination_folder.h"

#include <array>
#include <string>

#include "app/destination_check.h"
#include "app/folders.h"
#include "app/space_check.h"
#include "app/wizard_buttons.h"
#include "app/wizard_session.h"
#include "framework/folder_browser.h"
#include "framework/message_box.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "resources/texts_de.h"

namespace app {

namespace {
constexpr std::size_t kDisplayNameCapacity = 1024;
}

PageDestinationFolder::PageDestinationFolder(WizardSession& session)
    : framework::PropertyPage(IDD_DESTINATION_FOLDER), session_(session) {}

void PageDestinationFolder::DoDataExchange(framework::DataExchange& dx) {
  framework::PropertyPage::DoDataExchange(dx);
  dx.Text(IDC_DESTINATION, m_destination);
  dx.Control(IDC_SPACE, spaceText_);
  dx.Control(IDC_REINSTALL_ALL, reinstallAll_);
}

BOOL PageDestinationFolder::OnSetActive() {
  SetWizardButtons(kWizardBack | kWizardNext);
  m_destination = session_.destinationFolder();
  UpdateData(false);
  reinstallAll_.SetCheck(session_.reinstallAll());
  ShowSpace();
  return framework::PropertyPage::OnSetActive();
}

LRESULT PageDestinationFolder::OnWizardNext() {
  UpdateData(true);
  // Space first: it only asks, while the writable check creates the folder.
  if (!CheckSpaceOnNext()) return -1;
  if (!CheckDestination()) return -1;
  session_.SetDestinationFolder(m_destination);
  return 0;
}

bool PageDestinationFolder::OnCommand(WORD id, WORD code) {
  if (id == IDC_BROWSE && code == BN_CLICKED) {
    OnBrowse();
    return true;
  }
  if (id == IDC_REINSTALL_ALL && code == BN_CLICKED) {
    session_.SetReinstallAll(reinstallAll_.GetCheck());
    return true;
  }
  return false;
}

void PageDestinationFolder::OnBrowse() {
  UpdateData(true);
  std::array<wchar_t, kDisplayNameCapacity> displayName{};
  m_destination.copy(displayName.data(), displayName.size() - 1);

  framework::FolderBrowserOptions options;
  options.owner = m_hWnd;
  options.title = texts_de::kChooseDestination;
  // An edit field in the new-style dialog; deliberately not limited to
  // file-system folders.
  options.flags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  options.callback = &PageDestinationFolder::BrowseCallback;
  options.callbackData = reinterpret_cast<LPARAM>(displayName.data());
  options.displayName = displayName.data();

  if (std::optional<std::wstring> chosen = framework::BrowseForFolder(options)) {
    m_destination = EnsureTrailingBackslash(*chosen);
    UpdateData(false);
  }
  CheckDestination();
  ShowSpace();
}

bool PageDestinationFolder::CheckDestination() {
  SystemDestinationFileSystem fileSystem;
  const DestinationCheck check = CheckDestinationFolder(m_destination, fileSystem);
  switch (check.outcome) {
    case DestinationCheck::Outcome::kPassed: SetWizardButtons(kWizardBack | kWizardNext); return true;
    case DestinationCheck::Outcome::kRefused: {
      framework::MessageBox(m_hWnd, SystemErrorMessage(check.error), MB_OK | MB_ICONERROR);
      break;
    }
    case DestinationCheck::Outcome::kRefusedQuietly: break;
  }
  SetWizardButtons(kWizardBack);
  return false;
}

SpaceCheck PageDestinationFolder::ShowSpace() {
  SystemDestinationFileSystem fileSystem;
  // The choice and its sizes cannot change while the page shows.
  SpaceCheck check = CheckSpace(m_destination, session_.chosenPackages(), fileSystem);
  spaceText_.SetWindowText(SpaceSummaryText(check));
  return check;
}

bool PageDestinationFolder::CheckSpaceOnNext() {
  const SpaceCheck check = ShowSpace();
  if (check.Fits()) return true;
  framework::MessageBox(m_hWnd, NotEnoughSpaceText(check), MB_OK | MB_ICONWARNING);
  SetWizardButtons(kWizardBack | kWizardNext);
  return false;
}

int CALLBACK PageDestinationFolder::BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) framework::SetBrowserSelection(browser, reinterpret_cast<const wchar_t*>(data));
  return 0;
}

}  // namespace app
