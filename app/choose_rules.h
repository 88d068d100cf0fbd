// The rules of the choose-packages page's list, over its rows in index
// order.
#pragma once

#include <cstddef>
#include <vector>

#include "app/package_entry.h"

namespace app {

struct PackageRow {
  bool checked = false;
  bool selected = false;
  PackageEntry package;  // the one the row stands for
};

// Back and Next while at least one row is checked, else Back alone.
unsigned WizardButtonsForRows(const std::vector<PackageRow>& rows);

// A click on the check box of row `clicked`: an unselected row toggles alone;
// a selected one takes every selected row to its own new state.
void ToggleOnCheckBoxClick(std::vector<PackageRow>& rows, std::size_t clicked);

}  // namespace app
