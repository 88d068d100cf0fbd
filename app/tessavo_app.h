// The wizard program's application object: it reads the command line, keeps
// one setup at a time, creates the session and runs the setup in the mode
// asked for (the wizard, /passive or /quiet), installing or, with
// /uninstall, removing; its exit code is the program's.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/install_log.h"
#include "app/wizard_session.h"
#include "framework/application.h"

namespace app {

class PageProgress;
class TessavoWizardSheet;
struct RemovalJob;

class CTessavoApp : public framework::Application {
 public:
  CTessavoApp() = default;
  bool InitInstance() override;
  int ExitInstance() override;

  // The page of the running sheet that shows the run (the copy or the
  // removal); start-up waits for its run before the pages go. Valid only
  // while the sheet runs.
  PageProgress* m_pRunPage = nullptr;

 private:
  // Each returns the exit code.
  int RunSetup(const std::vector<std::wstring>& arguments);
  int RunWizard(const SetupOptions& options, InstallLog& log);
  int RunPassive(const SetupOptions& options, InstallLog& log);
  int RunUninstall(const SetupOptions& options, InstallLog& log);
  // Runs the sheet modally and waits for the run page's run, if it started:
  // Finish may close the sheet while the run still takes its last steps
  // (GeoPath among them), and the pages it drives must outlive it.
  void RunSheet(TessavoWizardSheet& sheet, PageProgress& runPage);

  WizardSession session_;
  int exitCode_ = 0;
};

}  // namespace app
