#include "app/choose_rules.h"

#include <algorithm>

#include "app/wizard_buttons.h"

namespace app {

unsigned WizardButtonsForRows(const std::vector<PackageRow>& rows) {
  const bool anyChecked = std::any_of(rows.begin(), rows.end(), [](const PackageRow& row) { return row.checked; });
  return anyChecked ? (kWizardBack | kWizardNext) : kWizardBack;
}

void ToggleOnCheckBoxClick(std::vector<PackageRow>& rows, std::size_t clicked) {
  if (clicked >= rows.size()) return;
  const bool newState = !rows[clicked].checked;
  if (!rows[clicked].selected) {
    rows[clicked].checked = newState;
    return;
  }
  for (PackageRow& row : rows) {
    if (row.selected) row.checked = newState;
  }
}

}  // namespace app
