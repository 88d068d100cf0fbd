// The first page: a greeting, and Next only.
#pragma once

#include "framework/property_page.h"

namespace app {

class PageWelcome : public framework::PropertyPage {
 public:
  PageWelcome();

 protected:
  void DoDataExchange(framework::DataExchange& dx) override;
  BOOL OnSetActive() override;
};

}  // namespace app
