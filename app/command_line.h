// The setup's command line: the mode (wizard, /passive, /quiet) and the
// switches that stand in for the wizard's questions.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

enum class SetupMode { kWizard, kPassive, kQuiet };

struct SetupOptions {
  SetupMode mode = SetupMode::kWizard;
  bool help = false;
  // Removes the recorded maps instead of installing; beside it only the
  // mode, /log= and /packages= (the packages to remove).
  bool uninstall = false;
  // /force writes every file; /repair compares each by content. Neither
  // goes with the other or with /uninstall.
  bool force = false;
  bool repair = false;
  std::optional<std::wstring> destination;  // absolute, ends in "\"
  std::optional<std::vector<std::wstring>> packages;
  std::optional<std::wstring> logPath;
};

struct ParsedCommandLine {
  SetupOptions options;
  std::wstring error;  // empty when valid; says what is wrong

  bool valid() const { return error.empty(); }
};

// `arguments` without the program. The mode is filled in even when the line
// is invalid, so that a quiet run never shows the usage.
ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

}  // namespace app
