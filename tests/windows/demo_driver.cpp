// Walks the wizard through every page for the demo on a display nobody
// watches: ticks, keeps the destination after a look in the browser, copies
// and finishes, with a screenshot of each page.
// Usage: tessavo_demo_driver TESSAVO.EXE SCREENSHOT_FOLDER (Windows paths)
#include <windows.h>
#include <prsht.h>

#include <cstdio>
#include <string>
#include <string>

#include "remote_wizard.h"
#include "resources/resource.h"

namespace {

// One whole UTF-8 line at a time: the wizard's own trace lines share stdout.
void Say(const std::wstring& line) {
  const std::wstring text = L"demo: " + line + L"\n";
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

int Fail(const std::wstring& what) {
  Say(what);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return Fail(L"usage: tessavo_demo_driver TESSAVO.EXE SCREENSHOT_FOLDER");
  const std::wstring folder = argv[2];
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const auto shot = [&](const wchar_t* name) {
    ::Sleep(500);
    SaveScreenshot(folder + L"\\" + name + L".bmp");
    Say(std::wstring(L"page ") + name);
  };

  RemoteWizard wizard(argv[1]);
  if (!wizard.started()) {
    return Fail(L"the wizard did not start (error " + std::to_wstring(wizard.startError()) + L")");
  }

  if (!wizard.WaitForTitle(L"VARNHOLT Setup: Welcome") || !wizard.WaitForButton(kNextButton, true))
    return Fail(L"no welcome page");
  shot(L"1-welcome");
  wizard.Press(PSBTN_NEXT);

  if (!wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files") || !wizard.WaitForButton(kNextButton, true))
    return Fail(L"no package list");
  // Untick the first package and tick it again, as a user weighing it up.
  wizard.ClickCheckBox(IDC_LIST_FILES, 0);
  WaitUntil([&] { return !wizard.RowChecked(IDC_LIST_FILES, 0); });
  wizard.ClickCheckBox(IDC_LIST_FILES, 0);
  WaitUntil([&] { return wizard.RowChecked(IDC_LIST_FILES, 0); });
  for (int row = 0; row < wizard.RowCount(IDC_LIST_FILES); ++row) {
    Say(std::wstring(L"  [") + (wizard.RowChecked(IDC_LIST_FILES, row) ? L"x" : L" ") + L"] " +
        wizard.RowText(IDC_LIST_FILES, row));
  }
  shot(L"2-choose-files");
  wizard.Press(PSBTN_NEXT);

  if (!wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder") || !wizard.WaitForButton(kNextButton, true))
    return Fail(L"no destination page");
  // A look in the folder browser, left with Cancel: the destination is kept
  // (and, being checked, created).
  wizard.Click(IDC_BROWSE);
  if (HWND browser = wizard.WaitForDialog()) {
    shot(L"3-folder-browser");
    RemoteWizard::AnswerDialog(browser, IDCANCEL);
    WaitUntil([&] { return !::IsWindow(browser); });
  }
  if (!wizard.WaitForButton(kNextButton, true)) return Fail(L"the destination was refused");
  Say(L"  destination " + wizard.Text(IDC_DESTINATION));
  shot(L"4-destination");
  wizard.Press(PSBTN_NEXT);

  if (!wizard.WaitForTitle(L"VARNHOLT Setup: Copying Files")) return Fail(L"no copy page");
  bool copyingShown = false;
  WaitUntil(
      [&] {
        if (!copyingShown && wizard.Text(IDC_CURRENT_FILE).rfind(L"Kopiere: ", 0) == 0) {
          shot(L"5-copying");
          copyingShown = true;
        }
        return wizard.Button(kFinishButton).enabled;
      },
      std::chrono::minutes(10));
  if (!wizard.WaitForButton(kFinishButton, true)) return Fail(L"the copy did not end");
  shot(L"6-copy-finished");
  wizard.Press(PSBTN_FINISH);
  if (wizard.WaitForExit() != 0) return Fail(L"the wizard did not end");
  Say(L"finished");
  return 0;
}
