// The page that shows the destination root, lets the user browse for another
// and proves the folder can be created and written before the copy starts.
#pragma once

#include <shlobj.h>

#include <string>

#include "app/space_check.h"
#include "framework/controls.h"
#include "framework/property_page.h"

namespace app {

class WizardSession;

class PageDestinationFolder : public framework::PropertyPage {
 public:
  explicit PageDestinationFolder(WizardSession& session);

 protected:
  void DoDataExchange(framework::DataExchange& dx) override;
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  bool OnCommand(WORD id, WORD code) override;

 private:
  void OnBrowse();
  bool CheckDestination();
  // Shows what the chosen packages need and what the drive has.
  SpaceCheck ShowSpace();
  // Refuses, with a message, a copy that cannot fit; leaves Next enabled for
  // another try once the user has made room.
  bool CheckSpaceOnNext();
  static int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM parameter, LPARAM data);

  std::wstring m_destination;
  framework::StaticCtrl spaceText_;
  framework::ButtonCtrl reinstallAll_;
  WizardSession& session_;
};

}  // namespace app
