// The system bitmaps (OBM_CHECKBOXES) are declared only with this.
#define OEMRESOURCE

#include "pages/page_choose_files.h"

#include <algorithm>
#include <utility>

#include "app/wizard_buttons.h"
#include "app/wizard_session.h"
#include "framework/wait_cursor.h"
#include "resources/resource.h"
#include "resources/texts_de.h"

namespace app {

PageChooseFiles::PageChooseFiles(WizardSession& session)
    : framework::PropertyPage(IDD_CHOOSE_FILES), session_(session) {}

void PageChooseFiles::DoDataExchange(framework::DataExchange& dx) {
  framework::PropertyPage::DoDataExchange(dx);
  dx.Control(IDC_LIST_FILES, m_listFiles);
}

BOOL PageChooseFiles::OnInitDialog() {
  framework::PropertyPage::OnInitDialog();
  m_listFiles.InsertColumn(0, texts_de::kListColumn, LVCFMT_LEFT, 400);

  // The system's check-box strip, cut into 13-pixel images: empty box first,
  // ticked box second. The list destroys the image list with itself.
  framework::SystemBitmap checkBoxes(OBM_CHECKBOXES);
  framework::ImageList images;
  if (images.Create(13, 13, ILC_MASK, 4, 4)) {
    images.AddMasked(checkBoxes.get(), RGB(255, 255, 255));
    m_listFiles.SetImageList(images.Detach(), LVSIL_STATE);
  }
  return TRUE;
}

BOOL PageChooseFiles::OnSetActive() {
  framework::WaitCursor wait;
  SetWizardButtons(kWizardBack);

  catalogue_ = session_.ReadCatalogue();

  const std::optional<std::vector<std::wstring>> ticks = std::exchange(firstTicks_, std::nullopt);
  const auto ticked = [&](const std::wstring& name) {
    return !ticks || std::find(ticks->begin(), ticks->end(), name) != ticks->end();
  };

  m_listFiles.DeleteAllItems();
  for (std::size_t i = 0; i < catalogue_.size(); ++i) {
    // Inserted at the end; the sorted style moves the row to its title's place.
    const int row = m_listFiles.InsertItem(m_listFiles.GetItemCount(), catalogue_[i].title);
    if (row < 0) continue;
    m_listFiles.SetItemData(row, static_cast<LPARAM>(i));
    m_listFiles.SetCheck(row, ticked(catalogue_[i].name));
  }
  UpdateWizardButtons();
  return framework::PropertyPage::OnSetActive();
}

LRESULT PageChooseFiles::OnWizardNext() {
  session_.ChoosePackages(ReadRows());
  return 0;
}

bool PageChooseFiles::OnNotify(NMHDR* header, LRESULT* result) {
  if (header->idFrom == IDC_LIST_FILES && header->code == NM_CLICK) {
    OnClickList(header, result);
    return true;
  }
  return false;
}

void PageChooseFiles::OnClickList(NMHDR*, LRESULT* result) {
  UINT flags = 0;
  const int clicked = m_listFiles.HitTest(m_listFiles.ScreenToClient(framework::CurrentMessagePos()), &flags);
  if (clicked >= 0 && (flags & LVHT_ONITEMSTATEICON) != 0) {
    std::vector<PackageRow> rows = ReadRows();
    const std::vector<PackageRow> before = rows;
    ToggleOnCheckBoxClick(rows, static_cast<std::size_t>(clicked));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].checked != before[i].checked) m_listFiles.SetCheck(static_cast<int>(i), rows[i].checked);
    }
  }
  UpdateWizardButtons();
  *result = 0;
}

void PageChooseFiles::UpdateWizardButtons() { SetWizardButtons(WizardButtonsForRows(ReadRows())); }

std::vector<PackageRow> PageChooseFiles::ReadRows() const {
  std::vector<PackageRow> rows;
  for (int row = m_listFiles.GetNextItem(-1, LVNI_ALL); row != -1; row = m_listFiles.GetNextItem(row, LVNI_ALL)) {
    const auto index = static_cast<std::size_t>(m_listFiles.GetItemData(row));
    rows.push_back({m_listFiles.GetCheck(row), (m_listFiles.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0,
                    index < catalogue_.size() ? catalogue_[index] : PackageEntry{}});
  }
  return rows;
}

}  // namespace app
