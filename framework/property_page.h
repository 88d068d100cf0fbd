// One page of a property sheet, built on a dialog template. The sheet's
// notifications arrive as the virtual operations below; control
// notifications as OnCommand and OnNotify.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "framework/data_exchange.h"
#include "framework/window.h"

namespace framework {

class PropertyPage : public Window {
 public:
  explicit PropertyPage(UINT dialogId);
  ~PropertyPage() override = default;
  PropertyPage(const PropertyPage&) = delete;
  PropertyPage& operator=(const PropertyPage&) = delete;

  // Runs DoDataExchange: controls to members when saving, else the reverse.
  bool UpdateData(bool saveAndValidate = true);

  // Posts the wizard buttons to the parent sheet.
  void SetWizardButtons(DWORD flags) const;
  // Turns the sheet's Cancel into a disabled close button for good.
  void CancelToClose() const;

  // The page descriptor the sheet is built from; PSP_HASHELP is set at first.
  PROPSHEETPAGEW m_psp{};

 protected:
  virtual void DoDataExchange(DataExchange& dx);
  virtual BOOL OnInitDialog();
  // Accepts the activation; refreshes the controls on every one but the first.
  virtual BOOL OnSetActive();
  virtual BOOL OnKillActive();
  // 0 goes on to the next page, -1 stays.
  virtual LRESULT OnWizardNext();
  virtual LRESULT OnWizardBack();
  virtual BOOL OnWizardFinish();
  // Cancel, Escape or the window's close box: true lets the sheet close.
  virtual bool OnQueryCancel();
  // The sheet is closing without Finish.
  virtual void OnCancel();
  virtual bool OnCommand(WORD id, WORD code);
  virtual bool OnNotify(NMHDR* header, LRESULT* result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnSheetNotify(NMHDR* header);

  bool firstSetActive_ = true;
};

// Posts PSM_SETWIZBUTTONS; the sheet applies it after the message at hand.
void PostWizardButtons(HWND sheet, DWORD flags);

}  // namespace framework
