// The record loop: keeps record order across decoders. Records are walked and
// each entry checked in record order on the caller's thread (its folder made,
// the target probed), then decoded into its temporary file by the pool; the
// caller commits the entries in record order and alone talks to the observer.
// A failure found ahead waits with its entry until the entry's turn, and one
// that may come from the work done side by side is met again alone, so any
// number of decoders gives the same files, the same observer calls and the
// same FileError. In a run that skips unchanged files, an entry left as it
// is takes no decoder, and a comparison of a target's bytes is the work of
// the decoder that would decode it. The steps of one entry are in
// entry_steps.h.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "package/decoder_pool.h"
#include "package/engine.h"
#include "package/entry_steps.h"
#include "package/package_path.h"
#include "package/record_walker.h"
#include "package/size_index.h"
#include "package/stream_decoder.h"
#include "package/temp_files.h"

namespace package {
namespace {

using namespace std::chrono_literals;

// What a decoder's steps tell while it is not the entry's turn: its progress
// goes to its job, and a stop is the pool's.
class DecoderObserver : public Observer {
 public:
  explicit DecoderObserver(DecodeJob& job) : job_(job) {}

  void OnProgress(std::int32_t percent, const PackageFileRecord& /*record*/) override { job_.Publish(percent); }
  bool StopRequested() override { return job_.StopRequested(); }

 private:
  DecodeJob& job_;
};

// Whether a failure says something of the package itself, which one decoder
// alone meets just the same. Every other one (no folder, no temporary file,
// a write, no decoder state) may come from the work done side by side, such
// as a volume whose space or inodes the entries decoded ahead took.
bool IsPackageFault(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ExtractionError& error) {
    return error.kind() == ErrorKind::kUnsafePath || error.kind() == ErrorKind::kDamaged;
  } catch (...) {
    return false;
  }
}

// One entry from its record to its commit, in the pending queue.
struct PendingEntry {
  // Where the entry stands in its life. Only the committing thread reads or
  // moves it; a decoder writes only `staged`, `sameContent`, `differs` and
  // `plan.replaces`, before the pool marks its job ended, and the committer
  // reads them after. A committed entry leaves the queue at once.
  enum class State {
    // The entry list ends here, for the reason in `failure`: the record could
    // not be read, or the walk ended before entries that the size index
    // lists. Nothing else of the entry is known; its turn raises `failure`.
    kEndsList,
    // Checking it, making its folder or probing its target failed
    // (`failure`). Its turn raises a fault of the package; any other is met
    // again alone, from the check on.
    kPrepareFailed,
    // Its folder is made and its target probed, and a decoder has it (`job`),
    // which fills `staged` unless it gives up or fails. For an entry the
    // observer wanted compared (`check`), the decoder first reads the
    // target: the same bytes set `sameContent` and nothing is decoded;
    // others set `differs`, and only then is the target probed.
    kDecoding,
    // Its folder is made and its target probed, but handing it to a decoder
    // or decoding it failed (`failure`; `job`, when a decoder had it, until
    // it is met alone). Its turn raises a fault of the package; any other is
    // decoded again alone.
    kDecodeFailed,
    // Decoded into `staged`, closed, waiting for its commit (`job` until
    // then, when a decoder of the pool decoded it).
    kDecoded,
    // Left as it is (`facts`): the observer called its target unchanged, and
    // nothing was made for it, or its target's bytes compared equal
    // (`sameContent`). Its turn steps over its stored bytes.
    kUnchanged,
    // The run ended in a stop or a failure: its decoder has stopped and its
    // temporary file is gone.
    kDiscarded,
  };

  State state = State::kEndsList;
  PackageFileRecord record;
  package_path::EntryPaths paths;
  // Its place in the entry list, counted from 0.
  std::size_t number = 0;
  // Where the entry's stored bytes lie; the walk can go back to behind them.
  std::uint64_t dataOffset = 0;
  std::int64_t dataSize = 0;
  // Folders made for this entry, outermost first: removed again when the
  // entry is forgotten before its turn.
  std::vector<std::wstring> madeFolders;
  std::exception_ptr failure;
  // Only in a run that skips unchanged files, from a valid size index.
  std::optional<EntryFacts> facts;
  TargetCheck check = TargetCheck::kWrite;
  bool sameContent = false;
  bool differs = false;
  // The target's path below the destination with its spelling folded, and
  // its hash, to find entries that go to one file; empty when the run looks
  // at no target.
  std::wstring targetKey;
  std::size_t targetHash = 0;
  DecodePlan plan;
  // Reads the entry's stored bytes from their start; all but kEndsList.
  std::optional<EntryReader> reader;
  std::shared_ptr<DecodeJob> job;
  // The temporary file it was decoded into; removed unless committed.
  StagedFile staged;
};
using State = PendingEntry::State;

// What a valid size index tells the run. An index too large to hold proves
// nothing here: the entries are unpacked as from a package without one.
struct IndexFacts {
  // Where the entries end. The index behind them is not extracted, so the
  // bar ends there.
  std::optional<std::uint64_t> end;
  // Each entry's unpacked size, in record order, where it fits the budget;
  // kBeyondBudget elsewhere. Four bytes an entry, whatever the names.
  std::vector<std::uint32_t> wholeSizes;
  static constexpr std::uint32_t kBeyondBudget = UINT32_MAX;
  // Only in a run that skips unchanged files: each entry as listed, so that
  // an entry's facts are those of the entry the walk reads, or none.
  struct Listed {
    std::uint64_t unpackedSize = 0;
    std::uint64_t storedSize = 0;
    std::size_t pathHash = 0;
  };
  std::vector<Listed> listed;
};

std::size_t PathHash(const std::wstring& folder, const std::wstring& name) {
  return std::hash<std::wstring>()(folder + L'\0' + name);
}

IndexFacts ReadIndexFacts(platform::File& package, std::uint64_t budget, bool listed) {
  IndexFacts facts;
  try {
    const size_index::SizeIndex index = size_index::Read(package);
    if (!index.IsValid()) return facts;
    facts.end = index.contentsEnd;
    facts.wholeSizes.reserve(index.entries.size());
    for (const size_index::Entry& entry : index.entries) {
      const bool fits = entry.unpackedSize <= budget && entry.storedSize <= budget;
      facts.wholeSizes.push_back(fits ? static_cast<std::uint32_t>(entry.unpackedSize) : IndexFacts::kBeyondBudget);
    }
    if (listed) {
      facts.listed.reserve(index.entries.size());
      for (const size_index::Entry& entry : index.entries)
        facts.listed.push_back({entry.unpackedSize, entry.storedSize, PathHash(entry.folder, entry.name)});
    }
  } catch (const std::bad_alloc&) {
    facts = {};
  }
  return facts;
}

// Folds the ways one file's path may be spelt ("a\.\b", "A\b", "a\b.")
// into one; two different files may fold alike, never one file two ways.
std::wstring TargetKey(const std::wstring& path) {
  std::wstring key;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring part = path.substr(start, end - start);
    while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
      part.pop_back();
    if (!part.empty()) {
      for (wchar_t& c : part)
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
      key += L'/';
      key += part;
    }
    start = end + 1;
  }
  return key;
}

class Extraction {
 public:
  Extraction(platform::File& package, const std::wstring& destination, Observer& observer, const Options& options)
      : walker_(package, package.Position(), package.Length()),
        packagePath_(package.Path()),
        destination_(destination),
        observer_(observer),
        options_(options),
        wholeBudget_(WholeBudget(options)),
        index_(ReadIndexFacts(package, wholeBudget_, options.skipUnchanged)),
        indexedEnd_(index_.end),
        total_(indexedEnd_.value_or(walker_.length())),
        progress_(observer, total_),
        maxPending_(2 * Decoders(options) * kEntriesPerDecoder),
        pool_(Decoders(options), Decoders(options) * kEntriesPerDecoder, options.buffers) {}

  Outcome Run() {
    try {
      return CommitAll();
    } catch (...) {
      DiscardAllButTheFrontFolders();
      throw;
    }
  }

 private:
  // Entries decoded ahead of the one being committed, per decoder: enough to
  // keep every decoder busy behind a large entry, few enough that the
  // temporary files waiting for their turn stay few.
  static constexpr std::size_t kEntriesPerDecoder = 4;
  // How long the committer waits for a decoder before it asks about a stop.
  static constexpr auto kStopPoll = 50ms;

  // Whole-entry sizes are kept in four bytes.
  static constexpr std::uint64_t kMaxWholeEntryBudget = 1u << 30;

  // The entry budget, shared out once more decoders than kMaxDecoders hold buffers.
  static std::uint64_t WholeBudget(const Options& options) {
    return std::min({options.wholeEntryBudget, kWholeEntryMemory / (2 * Decoders(options)), kMaxWholeEntryBudget});
  }

  static std::size_t Decoders(const Options& options) {
    return options.decoders != 0 ? options.decoders : DefaultDecoders();
  }

  // Each turn takes the front entry through its states to its commit.
  Outcome CommitAll() {
    for (;;) {
      Dispatch();
      if (pending_.empty()) return Outcome::kExtracted;
      if (observer_.StopRequested()) return StopBeforeTheFrontEntry();
      PendingEntry& entry = *pending_.front();
      if (entry.state == State::kEndsList) Raise(entry);
      observer_.OnEntryStarted(entry.record, entry.paths.file);
      if (entry.state == State::kDecoding) {
        if (!AwaitDecoder(entry)) return StopInTheFrontEntry();
        TakeDecoded(entry);
      }
      if (entry.state == State::kPrepareFailed || entry.state == State::kDecodeFailed) {
        if (IsPackageFault(entry.failure)) Raise(entry);
        if (!TryAlone(entry)) return StopInTheFrontEntry();
      }
      if (entry.state == State::kUnchanged)
        Leave(entry);
      else if (!Commit(entry))
        return StopInTheFrontEntry();
      if (entry.job) pool_.Release(*entry.job);
      pending_.pop_front();
    }
  }

  // Moves the front entry into place. A move refused while entries behind it
  // are prepared may be their doing (a folder made ahead where this entry's
  // file goes): it is met again alone, prepared anew. False on a stop.
  bool Commit(PendingEntry& entry) {
    if (pending_.size() > 1) {
      try {
        CommitEntry(std::move(entry.staged), entry.record, entry.paths, entry.madeFolders, observer_);
        return true;
      } catch (const ExtractionError& error) {
        if (error.kind() != ErrorKind::kOutputNotOpened) throw;
      }
      entry.state = State::kPrepareFailed;
      if (!TryAlone(entry)) return false;
      if (entry.state == State::kUnchanged) {
        Leave(entry);
        return true;
      }
    }
    CommitEntry(std::move(entry.staged), entry.record, entry.paths, entry.madeFolders, observer_);
    return true;
  }

  // The front entry's target stays as it is: its stored bytes are passed
  // over as read.
  void Leave(PendingEntry& entry) {
    progress_.ReportAt(entry.dataOffset + static_cast<std::uint64_t>(entry.dataSize), entry.record);
    if (options_.counts) options_.counts->unchanged.fetch_add(1, std::memory_order_relaxed);
    if (!entry.madeFolders.empty()) observer_.OnFoldersCreated(entry.madeFolders);
    observer_.OnEntryUnchanged(*entry.facts, entry.sameContent);
  }

  // The front entry's decoder has ended: decoded, or failed.
  void TakeDecoded(PendingEntry& entry) {
    entry.failure = pool_.Failure(*entry.job);
    if (entry.failure) {
      entry.state = State::kDecodeFailed;
      return;
    }
    if (entry.sameContent) {
      entry.state = State::kUnchanged;
      return;
    }
    // Only a stop or an earlier failure makes a decoder give up, and both
    // ended the loop before this entry's turn.
    if (!entry.staged) throw std::logic_error("a decoder gave up on its own");
    entry.state = State::kDecoded;
  }

  // Meets the entry's failure again as one decoder would have: every entry
  // behind it is forgotten, then it is prepared (where that had failed,
  // asking the observer again), compared (where that was asked and had not
  // found it different) and decoded on this thread. False on a stop; a
  // failure is raised.
  bool TryAlone(PendingEntry& entry) {
    ForgetLater();
    if (entry.job) {
      pool_.Release(*entry.job);
      entry.job.reset();
    }
    pool_.ForgetFailure();
    entry.failure = nullptr;
    if (entry.state == State::kPrepareFailed) Prepare(entry);
    if (!workspace_) workspace_ = std::make_unique<DecodeWorkspace>(options_.buffers);
    if (entry.check == TargetCheck::kUnchanged) {
      entry.state = State::kUnchanged;
      return true;
    }
    if (entry.check == TargetCheck::kCompareContent) {
      const std::optional<bool> same = CompareFirst(entry, *workspace_, observer_, options_.counts);
      if (!same) return false;
      if (*same) {
        entry.sameContent = true;
        entry.state = State::kUnchanged;
        return true;
      }
    }
    EntryReader reader = *entry.reader;
    StagedFile decoded =
        DecodeEntry(reader, entry.record, entry.paths, entry.plan, *workspace_, progress_, ownFiles_, observer_);
    if (!decoded) return false;
    entry.staged = std::move(decoded);
    entry.state = State::kDecoded;
    return true;
  }

  // Forgets every entry behind the front one, as if it had never been
  // reached: its decoder gives up, its temporary file and the folders made
  // for it go, and the walk goes on again from behind the front entry.
  void ForgetLater() {
    for (std::size_t i = 1; i < pending_.size(); ++i)
      if (pending_[i]->job) pool_.Abandon(*pending_[i]->job);
    while (pending_.size() > 1) {
      PendingEntry& later = *pending_.back();
      if (later.job) {
        // Its decoder writes into the entry until the job has ended.
        while (!pool_.Wait(*later.job, kStopPoll, nullptr)) {
        }
        pool_.Release(*later.job);
      }
      later.staged.Reset();
      RemoveFolders(later.madeFolders);
      pending_.pop_back();
    }
    lastFolder_.clear();
    const PendingEntry& front = *pending_.front();
    walker_.ResumeAfter(front.dataOffset, front.dataSize);
    nextNumber_ = front.number + 1;
    walked_ = false;
  }

  [[noreturn]] static void Raise(const PendingEntry& entry) { std::rethrow_exception(entry.failure); }

  // Walks on while the pool has room. A failure ends the walk: nothing after
  // it is reached unless the failure is met again alone and passes. Entries
  // left as they are take no room in the pool, so the queue has a bound of
  // its own.
  void Dispatch() {
    while (!walked_ && pool_.HasRoom() && pending_.size() < maxPending_) {
      auto entry = std::make_unique<PendingEntry>();
      try {
        if (!walker_.Next(&entry->record)) {
          walked_ = true;
          if (!indexedEnd_ || walker_.entriesEnd() == *indexedEnd_) return;
          // A size index whose checksum holds lists entries that the walk
          // did not reach: they are lost, as a cut stream's end is.
          throw ExtractionError(ErrorKind::kDamaged, packagePath_, FileError(FileError::kDamaged, -1, packagePath_));
        }
      } catch (...) {
        Hold(std::move(entry), State::kEndsList);
        return;
      }
      entry->paths = package_path::Join(destination_, entry->record.Folder(), entry->record.Name());
      entry->number = nextNumber_++;
      entry->plan.wholeSize = WholeSize(entry->number, walker_.dataSize());
      entry->plan.counts = options_.counts;
      entry->dataOffset = walker_.dataOffset();
      entry->dataSize = walker_.dataSize();
      entry->reader = walker_.Entry();
      if (!index_.listed.empty()) {
        entry->targetKey = TargetKey(entry->paths.file.substr(destination_.size()));
        entry->targetHash = std::hash<std::wstring>()(entry->targetKey);
        if (GoesWhereAnEntryAheadGoes(*entry)) {
          // Walked again once that one is in place.
          const PendingEntry& previous = *pending_.back();
          walker_.ResumeAfter(previous.dataOffset, previous.dataSize);
          --nextNumber_;
          return;
        }
      }
      try {
        Prepare(*entry);
      } catch (...) {
        Hold(std::move(entry), State::kPrepareFailed);
        return;
      }
      if (entry->state == State::kUnchanged) {
        pending_.push_back(std::move(entry));
        continue;
      }
      try {
        Submit(*entry);
      } catch (...) {
        Hold(std::move(entry), State::kDecodeFailed);
        return;
      }
      pending_.push_back(std::move(entry));
    }
  }

  // Queues an entry with the failure in hand until its turn; the walk ends
  // with it.
  void Hold(std::unique_ptr<PendingEntry> entry, State state) {
    entry->state = state;
    entry->failure = std::current_exception();
    walked_ = true;
    pending_.push_back(std::move(entry));
  }

  // A look at the target of an entry behind one that may still write the
  // same file would see the file as it was before this run: that entry is
  // looked at once the one ahead has had its turn.
  bool GoesWhereAnEntryAheadGoes(const PendingEntry& entry) const {
    return std::any_of(pending_.begin(), pending_.end(), [&](const std::unique_ptr<PendingEntry>& ahead) {
      return ahead->targetHash == entry.targetHash && ahead->targetKey == entry.targetKey;
    });
  }

  // Checks the entry, asks the observer what to do with its target when the
  // run may leave it (kUnchanged: nothing more), makes its folder and probes
  // its target (for a comparison, once its bytes differ).
  void Prepare(PendingEntry& entry) {
    CheckEntry(entry.record, entry.paths);
    entry.facts = FactsOf(entry);
    entry.check = TargetCheck::kWrite;
    entry.sameContent = false;
    entry.differs = false;
    if (entry.facts) {
      const TargetCheck check = observer_.CompareTarget(*entry.facts);
      if (check == TargetCheck::kUnchanged || check == TargetCheck::kCompareContent) entry.check = check;
    }
    if (entry.check == TargetCheck::kUnchanged) {
      entry.state = State::kUnchanged;
      return;
    }
    // Most entries share their folder with the one before, which made it:
    // it stands unless a clean-up took it since.
    if (entry.paths.folder != lastFolder_) {
      // Kept before they are made: a tree made only in part goes with the entry too.
      entry.madeFolders = MissingFolders(entry.paths.folder);
      PrepareFolder(entry.paths, preparedFolders_, ownFiles_);
      lastFolder_ = entry.paths.folder;
    }
    if (entry.check == TargetCheck::kWrite) entry.plan.replaces = CheckTarget(entry.paths);
  }

  // The entry's facts, when the index lists it as the walk read it and its
  // stored bytes end in a check value.
  std::optional<EntryFacts> FactsOf(const PendingEntry& entry) {
    if (entry.number >= index_.listed.size()) return std::nullopt;
    const IndexFacts::Listed& listed = index_.listed[entry.number];
    if (listed.storedSize != static_cast<std::uint64_t>(entry.dataSize) ||
        listed.pathHash != PathHash(entry.record.Folder(), entry.record.Name()))
      return std::nullopt;
    // An empty file needs no stream to be known; a file listed as holding
    // bytes does, since 65,521 zero bytes have the check value of none.
    if (entry.dataSize == 0) {
      if (listed.unpackedSize != 0) return std::nullopt;
      const unsigned char none[kCheckValueSize] = {0, 0, 0, 1};
      return LookAtEntry(none, entry.record, entry.paths, 0);
    }
    if (entry.dataSize < kShortestStream) return std::nullopt;
    unsigned char tail[kCheckValueSize];
    // The walker stands at the entry it has just read (or stepped back to),
    // and reads the record behind it with the tail.
    const bool read = walker_.dataOffset() == entry.dataOffset ? walker_.ReadTail(tail, sizeof tail)
                                                               : entry.reader->ReadTail(tail, sizeof tail);
    if (!read) return std::nullopt;
    return LookAtEntry(tail, entry.record, entry.paths, listed.unpackedSize);
  }

  // Compares the target's bytes with the entry's, unless they were found
  // to differ before; where they differ, the target is probed as for any
  // entry written. nullopt on a stop.
  static std::optional<bool> CompareFirst(PendingEntry& entry, DecodeWorkspace& work, Observer& observer,
                                          DecodeCounts* counts) {
    if (!entry.differs) {
      const Comparison comparison = CompareContent(*entry.facts, work.content, observer);
      if (comparison == Comparison::kStopped) return std::nullopt;
      if (counts) counts->compared.fetch_add(1, std::memory_order_relaxed);
      if (comparison == Comparison::kSame) return true;
      entry.differs = true;
    }
    entry.plan.replaces = CheckTarget(entry.paths);
    return false;
  }

  // The entry's unpacked size, when the index gives it and it is read whole.
  std::optional<std::uint64_t> WholeSize(std::size_t number, std::int64_t storedSize) const {
    if (number >= index_.wholeSizes.size() || storedSize <= 0) return std::nullopt;
    const std::uint32_t size = index_.wholeSizes[number];
    if (size == IndexFacts::kBeyondBudget || size == 0) return std::nullopt;
    // The walk reads the stored size from the record; the index may say otherwise.
    if (static_cast<std::uint64_t>(storedSize) > wholeBudget_) return std::nullopt;
    return size;
  }

  void Submit(PendingEntry& entry) {
    entry.job = pool_.Submit([entry = &entry, reader = *entry.reader, total = total_, own = &ownFiles_,
                              counts = options_.counts](DecodeWorkspace& work, DecodeJob& job) mutable {
      DecoderObserver decoder(job);
      if (entry->check == TargetCheck::kCompareContent) {
        const std::optional<bool> same = CompareFirst(*entry, work, decoder, counts);
        if (!same) return false;
        entry->sameContent = *same;
        if (entry->sameContent) return true;
      }
      Progress progress(decoder, total);
      entry->staged = DecodeEntry(reader, entry->record, entry->paths, entry->plan, work, progress, *own, decoder);
      return static_cast<bool>(entry->staged);
    });
    entry.state = State::kDecoding;
  }

  // Waits for the entry's decoder, reporting its progress as far as it has
  // come and asking about a stop at each step and while waiting. False on a
  // stop.
  bool AwaitDecoder(PendingEntry& entry) {
    std::vector<std::int32_t> percents;
    for (;;) {
      percents.clear();
      const bool ended = pool_.Wait(*entry.job, kStopPoll, [&](std::int32_t percent) { percents.push_back(percent); });
      for (const std::int32_t percent : percents)
        if (progress_.Report(percent, entry.record) && observer_.StopRequested()) return false;
      if (ended) return true;
      if (observer_.StopRequested()) return false;
    }
  }

  // A stop asked for before the front entry's turn began: nothing made for
  // it stays either, as one decoder would not have reached it.
  Outcome StopBeforeTheFrontEntry() {
    DiscardAll();
    return Outcome::kCancelled;
  }

  // A stop asked for in the front entry's turn: its folder stays, as it
  // would with one decoder.
  Outcome StopInTheFrontEntry() {
    DiscardAllButTheFrontFolders();
    return Outcome::kCancelled;
  }

  // Stops every decoder and removes every temporary file, then the folders
  // made ahead for the entries behind the front one, the last first: the
  // front entry had its turn and keeps its folder, as it would with one
  // decoder. Runs on the way out of a failure, so it raises nothing of its
  // own.
  void DiscardAllButTheFrontFolders() noexcept {
    DiscardTemporaryFiles();
    for (std::size_t i = pending_.size(); i > 1; --i)
      RemoveFolders(pending_[i - 1]->madeFolders);
  }

  // As DiscardAllButTheFrontFolders, and the front entry's folders go last.
  void DiscardAll() noexcept {
    DiscardAllButTheFrontFolders();
    if (!pending_.empty()) RemoveFolders(pending_.front()->madeFolders);
  }

  void DiscardTemporaryFiles() noexcept {
    try {
      pool_.StopAndWait();
    } catch (...) {  // a lock the system refused; the pool's destructor tries again
    }
    for (auto& entry : pending_) {
      entry->staged.Reset();
      entry->state = State::kDiscarded;
    }
  }

  RecordWalker walker_;
  const std::wstring packagePath_;
  const std::wstring& destination_;
  Observer& observer_;
  const Options options_;
  const std::uint64_t wholeBudget_;
  const IndexFacts index_;
  // Where a valid size index says the entries end.
  const std::optional<std::uint64_t> indexedEnd_;
  const std::uint64_t total_;
  Progress progress_;
  // Entries walked ahead of the one being committed, at most.
  const std::size_t maxPending_;
  FolderSet preparedFolders_;
  // The folder the last entry prepared made sure of.
  std::wstring lastFolder_;
  temp_files::OwnFiles ownFiles_;
  std::deque<std::unique_ptr<PendingEntry>> pending_;
  std::size_t nextNumber_ = 0;
  bool walked_ = false;
  // For an entry decoded on this thread.
  std::unique_ptr<DecodeWorkspace> workspace_;
  // Last: it stops and joins its decoders before the entries they write go.
  DecoderPool pool_;
};

}  // namespace

Outcome ExtractContents(platform::File& package, const std::wstring& destination, Observer& observer,
                        const Options& options) {
  return Extraction(package, destination, observer, options).Run();
}

}  // namespace package
