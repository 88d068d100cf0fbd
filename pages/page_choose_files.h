// The page on which the user unticks the packages that are not wanted: one
// row per catalogue entry, sorted by title, all ticked on every arrival but
// the first when the command line named the packages.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/choose_rules.h"
#include "framework/controls.h"
#include "framework/property_page.h"

namespace app {

class WizardSession;

class PageChooseFiles : public framework::PropertyPage {
 public:
  explicit PageChooseFiles(WizardSession& session);

  // The packages ticked on the first showing instead of all (/packages).
  void TickOnFirstShowing(std::vector<std::wstring> names) { firstTicks_ = std::move(names); }

 protected:
  void DoDataExchange(framework::DataExchange& dx) override;
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  bool OnNotify(NMHDR* header, LRESULT* result) override;

 private:
  void OnClickList(NMHDR* header, LRESULT* result);
  void UpdateWizardButtons();
  // The rows in index order, which is the order they show.
  std::vector<PackageRow> ReadRows() const;

  WizardSession& session_;

  framework::ListCtrl m_listFiles;
  // The packages the rows stand for, in the catalogue's order; a row's item
  // data indexes this.
  std::vector<PackageEntry> catalogue_;
  std::optional<std::vector<std::wstring>> firstTicks_;
};

}  // namespace app
