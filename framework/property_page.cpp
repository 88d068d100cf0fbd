#include "framework/property_page.h"

#include "framework/application.h"

namespace framework {

PropertyPage::PropertyPage(UINT dialogId) {
  m_psp.dwSize = sizeof(m_psp);
  m_psp.dwFlags = PSP_DEFAULT | PSP_HASHELP;
  m_psp.pszTemplate = MAKEINTRESOURCEW(dialogId);
  m_psp.pfnDlgProc = &PropertyPage::DialogProc;
  m_psp.lParam = reinterpret_cast<LPARAM>(this);
}

bool PropertyPage::UpdateData(bool saveAndValidate) {
  DataExchange dx(m_hWnd, saveAndValidate);
  DoDataExchange(dx);
  return true;
}

void PropertyPage::SetWizardButtons(DWORD flags) const { PostWizardButtons(GetParent(), flags); }

void PropertyPage::CancelToClose() const { ::SendMessageW(GetParent(), PSM_CANCELTOCLOSE, 0, 0); }

void PropertyPage::DoDataExchange(DataExchange&) {}

BOOL PropertyPage::OnInitDialog() {
  UpdateData(false);
  return TRUE;
}

BOOL PropertyPage::OnSetActive() {
  if (firstSetActive_) {
    firstSetActive_ = false;
  } else {
    UpdateData(false);
  }
  return TRUE;
}

BOOL PropertyPage::OnKillActive() { return UpdateData(true) ? TRUE : FALSE; }

LRESULT PropertyPage::OnWizardNext() { return 0; }

LRESULT PropertyPage::OnWizardBack() { return 0; }

BOOL PropertyPage::OnWizardFinish() { return TRUE; }

bool PropertyPage::OnQueryCancel() { return true; }

void PropertyPage::OnCancel() {}

bool PropertyPage::OnCommand(WORD, WORD) { return false; }

bool PropertyPage::OnNotify(NMHDR*, LRESULT*) { return false; }

INT_PTR PropertyPage::OnSheetNotify(NMHDR* header) {
  LRESULT result = 0;
  switch (header->code) {
    case PSN_SETACTIVE: result = OnSetActive() ? 0 : -1; break;
    case PSN_KILLACTIVE: result = OnKillActive() ? FALSE : TRUE; break;
    case PSN_WIZNEXT: result = OnWizardNext(); break;
    case PSN_WIZBACK: result = OnWizardBack(); break;
    case PSN_WIZFINISH: result = OnWizardFinish() ? FALSE : TRUE; break;
    // Nonzero keeps the sheet open.
    case PSN_QUERYCANCEL: result = OnQueryCancel() ? FALSE : TRUE; break;
    case PSN_RESET: OnCancel(); break;
    default: return FALSE;
  }
  ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK PropertyPage::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* page = reinterpret_cast<PropertyPage*>(reinterpret_cast<PROPSHEETPAGEW*>(lParam)->lParam);
    ::SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(page));
    page->Attach(dialog);
    return page->OnInitDialog();
  }
  auto* page = reinterpret_cast<PropertyPage*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  if (page == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND: return page->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom == page->GetParent()) return page->OnSheetNotify(header);
      LRESULT result = 0;
      if (!page->OnNotify(header, &result)) return FALSE;
      ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
      return TRUE;
    }
    default: return FALSE;
  }
}

void PostWizardButtons(HWND sheet, DWORD flags) {
  ::PostMessageW(sheet, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
}

}  // namespace framework
