#include "app/copy_pacing.h"

namespace app {

void PaceCopyRun() {}

}  // namespace app
