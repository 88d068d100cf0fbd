// A modal property sheet; in wizard mode the classic wizard (PSH_WIZARD).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "framework/property_page.h"
#include "framework/window.h"

namespace framework {

class PropertySheet : public Window {
 public:
  // A null caption leaves the title bar to the active page's caption.
  explicit PropertySheet(const wchar_t* caption = nullptr, HWND parent = nullptr, UINT startPage = 0);
  PropertySheet(const PropertySheet&) = delete;
  PropertySheet& operator=(const PropertySheet&) = delete;

  void AddPage(PropertyPage* page) { pages_.push_back(page); }
  void SetWizardMode() { wizard_ = true; }
  // Runs the sheet until Finish or Cancel closes it.
  INT_PTR DoModal();
  void SetWizardButtons(DWORD flags) const { PostWizardButtons(m_hWnd, flags); }

 private:
  static int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM lParam);

  std::wstring caption_;
  bool hasCaption_ = false;
  HWND parent_ = nullptr;
  UINT startPage_ = 0;
  bool wizard_ = false;
  std::vector<PropertyPage*> pages_;
};

}  // namespace framework
