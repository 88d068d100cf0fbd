// A pause each time the copy run asks whether to stop (between packages and,
// in the engine, between chunks). The shipped program links copy_pacing.cpp,
// which never pauses; the Windows tests link a build of their own that
// pauses, so that a test's Cancel lands in the middle of a small copy.
#pragma once

namespace app {

void PaceCopyRun();

}  // namespace app
