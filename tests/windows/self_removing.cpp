// Removes itself as the setup copy does. Started with folders on its command
// line, it hands its own file and those folders to RemoveAfterExit and ends
// with 7, which must still reach whoever started it; started by
// RemoveAfterExit, it is the copy that does the removing.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "app/setup_arguments.h"
#include "platform/platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  platform::LoadDllsFromSystemFolderOnly();
  // Split as the setup splits its own command line.
  const std::vector<std::wstring> arguments = app::SplitSetupCommandLine(::GetCommandLineW());
  if (const std::optional<int> code = platform::RunRemovalAfterExit(arguments)) return *code;
  if (!platform::RemoveAfterExit(platform::ProgramPath(32768), arguments)) return 2;
  return 7;
}
