#include "app/copy_pacing.h"

void PaceCopyRun() {}
