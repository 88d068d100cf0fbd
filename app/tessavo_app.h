// The wizard program's application object: it creates the wizard's session,
// builds the sheet and its four pages over it and runs them.
#pragma once

#include "app/wizard_session.h"
#include "framework/application.h"

class PageCopyFiles;

class CTessavoApp : public framework::Application {
 public:
  CTessavoApp() = default;
  bool InitInstance() override;

  // The copy page of the running wizard; start-up waits for its run before
  // the pages go. Valid only while the wizard runs.
  PageCopyFiles* m_pCopyPage = nullptr;

 private:
  WizardSession session_;
};
