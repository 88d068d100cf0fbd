// The wizard program's application object: start-up builds the sheet and its
// four pages and runs them; the shared data lives in TessavoAppData.
#pragma once

#include "app/app_data.h"
#include "framework/application.h"

class PageCopyFiles;

class CTessavoApp : public framework::Application, public TessavoAppData {
 public:
  CTessavoApp() = default;
  bool InitInstance() override;

  // The copy page of the running wizard; the worker drives it. Valid only
  // while the wizard runs.
  PageCopyFiles* m_pCopyPage = nullptr;
};

// The application object, as the pages and the worker reach it.
CTessavoApp* GetTessavoApp();
