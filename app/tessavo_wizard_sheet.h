// The wizard: a classic property sheet with no caption of its own, so the
// title bar shows the active page's caption.
#pragma once

#include "framework/property_sheet.h"

namespace app {

class TessavoWizardSheet : public framework::PropertySheet {
 public:
  TessavoWizardSheet() : framework::PropertySheet(nullptr, nullptr, 0) {}
};

}  // namespace app
