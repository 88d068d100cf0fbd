// The system's folder browser.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

namespace framework {

struct FolderBrowserOptions {
  HWND owner = nullptr;
  std::wstring title;
  UINT flags = 0;
  BFFCALLBACK callback = nullptr;
  LPARAM callbackData = 0;
  // Display-name buffer of at least MAX_PATH characters, or null.
  wchar_t* displayName = nullptr;
};

// Shows the browser modally; the chosen item's file-system path, or nullopt
// when the user cancels or chooses an item that has none (a computer, a
// library). COM is initialised for the new-style dialog.
std::optional<std::wstring> BrowseForFolder(const FolderBrowserOptions& options);

// Preselects a folder in an open browser (from its callback).
void SetBrowserSelection(HWND browser, const wchar_t* path);

}  // namespace framework
