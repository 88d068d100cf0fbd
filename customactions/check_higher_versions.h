#pragma once

#include "customactions/installer.h"

namespace quorvis {

// Sets NEWERVERSIONINSTALLED to "1" when the product named by
// NEWESTPRODUCTCODE is installed in ProductVersion or higher, to "" when
// it is installed in a lower version, and leaves it alone otherwise.
// 1603 only when one of the two properties cannot be read.
Status MsiCheckForHigherVersions(Installer& installer, Handle install);

}  // namespace quorvis
