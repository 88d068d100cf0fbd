#pragma once

#include "customactions/installer.h"

#include <utility>

namespace quorvis {

// A C++ exception must not leave through the C entry point the installer
// calls: nothing there can catch it and the process would be terminated.
// The installer is told the action failed instead, which is what it makes
// of any custom action that dies.
template <class Action>
Status RunAtBoundary(Action&& action) noexcept {
  try {
    return std::forward<Action>(action)();
  } catch (...) {
    return kInstallFailure;
  }
}

}  // namespace quorvis
