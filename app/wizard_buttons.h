// The property sheet's wizard-button flags, spelled out so that the rules
// choosing them build and are tested without the Windows headers.
#pragma once

namespace app {

inline constexpr unsigned kWizardBack = 0x1;
inline constexpr unsigned kWizardNext = 0x2;
inline constexpr unsigned kWizardFinish = 0x4;
inline constexpr unsigned kWizardDisabledFinish = 0x8;

}  // namespace app
