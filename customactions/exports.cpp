// The entry points that Windows Installer calls by name (see Quorvis.def).

#include "customactions/action_boundary.h"
#include "customactions/check_higher_versions.h"
#include "customactions/msi_installer.h"

#include <windows.h>
#include <msiquery.h>

extern "C" UINT __stdcall MsiCheckForHigherVersions(MSIHANDLE install) {
  return quorvis::RunAtBoundary([install] {
    quorvis::MsiInstaller installer;
    return quorvis::MsiCheckForHigherVersions(installer, install);
  });
}
