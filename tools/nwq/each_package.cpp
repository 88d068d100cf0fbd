#include "tools/nwq/commands.h"
#include "tools/nwq/output.h"

namespace nwq {

int ForEachPackage(const Arguments& arguments, const wchar_t* help,
                   const std::function<bool(const std::wstring& path)>& command) {
  if (HasHelpFlag(arguments)) {
    Print(help);
    return kExitOk;
  }
  if (arguments.empty()) {
    Print(help);
    return kExitUsage;
  }
  bool allDone = true;
  for (const std::wstring& path : arguments) {
    try {
      allDone = command(path) && allDone;
    } catch (...) {
      PrintError(CurrentErrorText(path));
      allDone = false;
    }
  }
  return allDone ? kExitOk : kExitFailed;
}

}  // namespace nwq
