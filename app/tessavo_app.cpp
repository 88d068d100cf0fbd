#include "app/tessavo_app.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "app/tessavo_wizard_sheet.h"
#include "framework/folder_browser.h"
#include "pages/page_choose_files.h"
#include "pages/page_copy_files.h"
#include "pages/page_destination_folder.h"
#include "pages/page_welcome.h"
#include "resources/resource.h"

namespace {
CTessavoApp theApp;
constexpr std::size_t kProgramPathCapacity = 260;
}  // namespace

CTessavoApp* GetTessavoApp() { return &theApp; }

bool CTessavoApp::InitInstance() {
  framework::InitCommonControls(ICC_WIN95_CLASSES);
  framework::Application::InitInstance();
  SetRegistryKey(L"Varnholt");

  StartupFacts facts;
  try {
    facts.programPath = framework::ModuleFileName(kProgramPathCapacity);
  } catch (...) {
    // Start-up goes on with the folders whatever they hold: the wizard always runs.
  }
  facts.programFilesFolder = framework::SpecialFolderPath(CSIDL_PROGRAM_FILES);
  facts.destinationSuffix = framework::LoadResourceString(IDS_DESTINATION_SUFFIX);
  SetUpFolders(facts);

  TessavoWizardSheet sheet;
  sheet.SetWizardMode();

  PageWelcome welcome;
  PageChooseFiles chooseFiles;
  PageDestinationFolder destinationFolder;
  PageCopyFiles copyFiles;
  m_pCopyPage = &copyFiles;
  for (framework::PropertyPage* page :
       {static_cast<framework::PropertyPage*>(&welcome), static_cast<framework::PropertyPage*>(&chooseFiles),
        static_cast<framework::PropertyPage*>(&destinationFolder), static_cast<framework::PropertyPage*>(&copyFiles)}) {
    page->m_psp.dwFlags &= ~PSP_HASHELP;
    sheet.AddPage(page);
  }

  m_pMainWnd = &sheet;
  sheet.DoModal();
  m_pMainWnd = nullptr;
  m_pCopyPage = nullptr;
  return false;
}
