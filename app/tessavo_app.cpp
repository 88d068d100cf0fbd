#include "app/tessavo_app.h"

#include <windows.h>
#include <commctrl.h>

#include "app/tessavo_wizard_sheet.h"
#include "pages/page_choose_files.h"
#include "pages/page_copy_files.h"
#include "pages/page_destination_folder.h"
#include "pages/page_welcome.h"
#include "resources/resource.h"

namespace {
CTessavoApp theApp;
}  // namespace

bool CTessavoApp::InitInstance() {
  framework::InitCommonControls(ICC_WIN95_CLASSES);
  framework::Application::InitInstance();
  SetRegistryKey(L"Varnholt");

  session_.SetUpFolders(GatherStartupFacts(framework::LoadResourceString(IDS_DESTINATION_SUFFIX)));

  TessavoWizardSheet sheet;
  sheet.SetWizardMode();

  PageWelcome welcome;
  PageChooseFiles chooseFiles(session_);
  PageDestinationFolder destinationFolder(session_);
  PageCopyFiles copyFiles(session_);
  m_pCopyPage = &copyFiles;
  for (framework::PropertyPage* page :
       {static_cast<framework::PropertyPage*>(&welcome), static_cast<framework::PropertyPage*>(&chooseFiles),
        static_cast<framework::PropertyPage*>(&destinationFolder), static_cast<framework::PropertyPage*>(&copyFiles)}) {
    page->m_psp.dwFlags &= ~PSP_HASHELP;
    sheet.AddPage(page);
  }

  m_pMainWnd = &sheet;
  sheet.DoModal();
  // Finish may close the sheet while the run still takes its last steps
  // (GeoPath among them); the pages it drives must outlive it.
  m_pCopyPage->WaitForRun();
  m_pMainWnd = nullptr;
  m_pCopyPage = nullptr;
  return false;
}
