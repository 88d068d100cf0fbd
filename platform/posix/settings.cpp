// Placeholder until the settings store lands.
#include "platform/platform.h"
