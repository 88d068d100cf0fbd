#pragma once
// The three ways a custom action talks to the running installation.

#include "customactions/installer.h"

#include <string>

namespace quorvis {

// Status of the last request made; 0 when `value` holds the whole property.
Status ReadProperty(Installer& installer, Handle install, const char* name, std::string& value);

Status WriteProperty(Installer& installer, Handle install, const char* name, const std::string& value);

// One informational line in the installation log: 0 when the installer took
// it, otherwise 1603.
Status LogLine(Installer& installer, Handle install, const std::string& text);

}  // namespace quorvis
