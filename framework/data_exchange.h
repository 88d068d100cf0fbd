// Moves data between a page's members and its dialog controls, in the
// direction UpdateData asks for.
#pragma once

#include <windows.h>

#include <string>

#include "framework/window.h"

namespace framework {

class DataExchange {
 public:
  DataExchange(HWND dialog, bool saveAndValidate) : dialog_(dialog), m_bSaveAndValidate(saveAndValidate) {}

  // Binds a control wrapper to the dialog's control `id`.
  void Control(int id, Window& control) { control.Attach(::GetDlgItem(dialog_, id)); }
  // Member to control text, or back when saving.
  void Text(int id, std::wstring& value);

 private:
  HWND dialog_;

 public:
  const bool m_bSaveAndValidate;
};

}  // namespace framework
