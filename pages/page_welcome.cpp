#include "pages/page_welcome.h"

#include "app/wizard_buttons.h"
#include "resources/resource.h"

namespace app {

PageWelcome::PageWelcome() : framework::PropertyPage(IDD_WELCOME) {}

void PageWelcome::DoDataExchange(framework::DataExchange& dx) { framework::PropertyPage::DoDataExchange(dx); }

BOOL PageWelcome::OnSetActive() {
  SetWizardButtons(kWizardNext);
  return framework::PropertyPage::OnSetActive();
}

}  // namespace app
