// Drives a running wizard from another process, as a user would see it:
// the sheet found by its title, buttons pressed with PSM_PRESSBUTTON,
// controls read by id, list-view rows read and clicked, message boxes and
// the folder browser found and answered, and screenshots of the display.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "win32_owners.h"

inline constexpr int kBackButton = 0x3023;
inline constexpr int kNextButton = 0x3024;
inline constexpr int kFinishButton = 0x3025;

struct ButtonState {
  bool visible = false;
  bool enabled = false;
};

// Polls until `condition` holds; false after `timeout`.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

class RemoteWizard {
 public:
  // Starts the program with `arguments` (as they follow the program on its
  // command line) and, when asked, waits for its sheet.
  explicit RemoteWizard(const std::wstring& program, const std::wstring& arguments = L"", bool waitForSheet = true);
  ~RemoteWizard();
  RemoteWizard(const RemoteWizard&) = delete;
  RemoteWizard& operator=(const RemoteWizard&) = delete;

  // For a program started without waiting: waits for its sheet now.
  bool WaitForSheet(std::chrono::milliseconds timeout = std::chrono::milliseconds(60000));
  bool started() const { return sheet_ != nullptr; }
  // Why it did not start: the error of CreateProcess, or 0 when no sheet came.
  DWORD startError() const { return startError_; }
  std::wstring Title() const;
  // Waits until the title bar shows `title`.
  bool WaitForTitle(const std::wstring& title);

  ButtonState Button(int id) const;
  bool WaitForButton(int id, bool enabled);
  void Press(int psbtn) const;  // PSBTN_NEXT, PSBTN_BACK, PSBTN_FINISH, PSBTN_CANCEL

  HWND Page() const;
  HWND Control(int id) const { return ::GetDlgItem(Page(), id); }
  std::wstring Text(int id) const;
  bool Visible(int id) const { return ::IsWindowVisible(Control(id)) != FALSE; }
  int ProgressPosition(int id) const;
  int ProgressUpper(int id) const;
  void Click(int id) const;  // posts BM_CLICK, so a modal answer does not block us

  // The list view: rows, their texts, check and selection states.
  int RowCount(int listId) const;
  std::wstring RowText(int listId, int row) const;
  bool RowChecked(int listId, int row) const;
  void SelectRows(int listId, const std::vector<int>& rows) const;
  // A real mouse click on the row's check box.
  bool ClickCheckBox(int listId, int row) const;

  // A message box or the folder browser of the program, other than the sheet.
  HWND WaitForDialog(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;
  static std::wstring DialogTexts(HWND dialog);  // every static text, joined by "\n"
  static void AnswerDialog(HWND dialog, int buttonId);
  // In the folder browser: opens the selected folder and selects its first
  // subfolder, as a user's click in the tree would.
  static bool SelectFirstSubfolder(HWND browser);
  // In the folder browser: selects a folder by its path, as the program
  // itself does when the browser opens.
  bool SelectPath(HWND browser, const std::wstring& path) const;
  // In the folder browser: selects the top item (below the desktop) shown
  // as `text`, "My Computer" for one.
  bool SelectTopItem(HWND browser, const std::wstring& text) const;
  static std::wstring WindowText(HWND window);

  // The full paths of the DLLs the program has loaded.
  std::vector<std::wstring> ModulePaths() const;

  // The exit code, or STILL_ACTIVE when the program did not end in time.
  // `sawWindow`, when given, tells whether the program showed any window
  // while it was waited for.
  DWORD WaitForExit(std::chrono::milliseconds timeout = std::chrono::milliseconds(15000), bool* sawWindow = nullptr);
  // Ends the program at once, as a crash or Task Manager would; true once it
  // has ended.
  bool Kill(std::chrono::milliseconds timeout = std::chrono::milliseconds(30000));

 private:
  UniqueKernelHandle process_;
  DWORD processId_ = 0;
  HWND sheet_ = nullptr;
  DWORD startError_ = 0;
};

// The whole display as a 24-bit BMP.
bool SaveScreenshot(const std::wstring& path);
