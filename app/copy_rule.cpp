#include "app/copy_rule.h"

namespace app {

using package::TargetCheck;

namespace {

// Whether the time the record read back from the disk is the entry's. A FAT
// volume keeps even seconds only: an odd second comes back one second off.
bool KeptAs(std::uint64_t entryTime, std::uint64_t keptTime) {
  constexpr std::uint64_t kSecond = 10'000'000;
  if (entryTime == keptTime) return true;
  const std::uint64_t apart = entryTime > keptTime ? entryTime - keptTime : keptTime - entryTime;
  return apart == kSecond && keptTime % (2 * kSecond) == 0;
}

}  // namespace

package::Options ExtractOptionsFor(CopyRule rule) {
  // Several decoders and large buffers: a copy from a fast drive is bound by
  // inflate, not by the disk.
  package::Options options{package::kLargeBuffers, 0};
  options.skipUnchanged = rule != CopyRule::kWriteAll;
  return options;
}

TargetCheck ChooseTargetCheck(const package::EntryFacts& facts, CopyRule rule, const InstallRecord& record,
                              const std::wstring& destination, const std::wstring& package, bool previousRunEnded) {
  if (rule == CopyRule::kWriteAll || !facts.target) return TargetCheck::kWrite;
  const package::EntryFacts::Target& target = *facts.target;
  if (rule == CopyRule::kRepair) return target.size == facts.size ? TargetCheck::kCompareContent : TargetCheck::kWrite;

  const RecordedFile* own = nullptr;
  bool otherFresh = false;
  bool otherContents = false;
  const std::wstring relative = PathBelow(destination, facts.outputPath);
  if (!relative.empty()) {
    for (const RecordedFile* file : record.FilesAt(destination, relative)) {
      if (file->package == package) {
        own = file;
        continue;
      }
      if (file->fresh) otherFresh = true;
      // Another package's file, still as it was written, whose bytes are not the entry's.
      if (file->size == target.size && file->modified == target.modified && file->adler != facts.adler32)
        otherContents = true;
    }
  }

  if (own != nullptr) {
    const bool asRecorded = target.size == own->size && target.modified == own->modified;
    const bool sameEntry = facts.size == own->size && (!facts.modified || KeptAs(*facts.modified, own->modified)) &&
                           facts.adler32 == own->adler;
    if (!asRecorded || !sameEntry) return TargetCheck::kWrite;
    return own->fresh ? TargetCheck::kCompareContent : TargetCheck::kUnchanged;
  }
  if (otherContents || target.size != facts.size || !facts.modified || *facts.modified != target.modified)
    return TargetCheck::kWrite;
  return previousRunEnded && !otherFresh ? TargetCheck::kUnchanged : TargetCheck::kCompareContent;
}

}  // namespace app
