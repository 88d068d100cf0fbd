// Which files a run writes, and for each entry of a package with a valid
// size index, whether its target is left as it is, compared by content or
// written: the engine shows the run each entry's facts (package::EntryFacts)
// and the run answers by these rules.
#pragma once

#include <string>

#include "app/install_record.h"
#include "package/engine.h"

namespace app {

enum class CopyRule {
  kSkipUnchanged,  // files still as this setup left them are not written again
  kWriteAll,       // /force, or "Reinstall all files": every file is written
  kRepair,         // /repair: files are compared by content, the differing written
};

// The engine's options for a run under `rule`. Only kWriteAll leaves the
// targets unlooked at.
package::Options ExtractOptionsFor(CopyRule rule);

// What to do with the entry's target, for `package` installing into
// `destination` under `rule`:
// - kWriteAll, or no file at the target: write.
// - kRepair: compare by content when the target has the entry's size, else
//   write.
// - The package's own entry for the path: unchanged when the target still has
//   the recorded size and time and the entry is the one recorded (size, time
//   when it gives one, as a FAT volume may keep it, Adler-32); compared by
//   content instead when the recorded file is fresh. Anything else: write.
// - No entry of the package (an older tree, a copy by hand): unchanged when
//   the target has the entry's size and time, as a quick check does, unless
//   another package's entry for the path, still as the target is, gives other
//   contents (then written); compared by content when the record's last run
//   had not ended (its last files were never listed and may lack their data)
//   or another package's entry for the path is fresh. Anything else: write.
package::TargetCheck ChooseTargetCheck(const package::EntryFacts& facts, CopyRule rule, const InstallRecord& record,
                                       const std::wstring& destination, const std::wstring& package,
                                       bool previousRunEnded);

}  // namespace app
