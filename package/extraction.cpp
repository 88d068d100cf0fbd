// The record loop: keeps record order across decoders. Records are walked and
// each entry checked in record order on the caller's thread (its folder made,
// the target probed), then decoded into its temporary file by the pool; the
// caller commits the entries in record order and alone talks to the observer.
// A failure found ahead waits with its entry until the entry's turn, and one
// that may come from the work done side by side is met again alone, so any
// number of decoders gives the same files, the same observer calls and the
// same FileError. The steps of one entry are in entry_steps.h.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
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
  // moves it; a decoder writes only `staged`, before the pool marks its job
  // ended, and the committer reads that after. A committed entry leaves the
  // queue at once.
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
    // which fills `staged` unless it gives up or fails.
    kDecoding,
    // Its folder is made and its target probed, but handing it to a decoder
    // or decoding it failed (`failure`; `job`, when a decoder had it, until
    // it is met alone). Its turn raises a fault of the package; any other is
    // decoded again alone.
    kDecodeFailed,
    // Decoded into `staged`, closed, waiting for its commit (`job` until
    // then, when a decoder of the pool decoded it).
    kDecoded,
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
};

IndexFacts ReadIndexFacts(platform::File& package, std::uint64_t budget) {
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
  } catch (const std::bad_alloc&) {
    facts = {};
  }
  return facts;
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
        index_(ReadIndexFacts(package, wholeBudget_)),
        indexedEnd_(index_.end),
        total_(indexedEnd_.value_or(walker_.length())),
        progress_(observer, total_),
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
      if (!Commit(entry)) return StopInTheFrontEntry();
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
    }
    CommitEntry(std::move(entry.staged), entry.record, entry.paths, entry.madeFolders, observer_);
    return true;
  }

  // The front entry's decoder has ended: decoded, or failed.
  void TakeDecoded(PendingEntry& entry) {
    entry.failure = pool_.Failure(*entry.job);
    if (entry.failure) {
      entry.state = State::kDecodeFailed;
      return;
    }
    // Only a stop or an earlier failure makes a decoder give up, and both
    // ended the loop before this entry's turn.
    if (!entry.staged) throw std::logic_error("a decoder gave up on its own");
    entry.state = State::kDecoded;
  }

  // Meets the entry's failure again as one decoder would have: every entry
  // behind it is forgotten, then it is prepared (where that had failed) and
  // decoded on this thread. False on a stop; a failure is raised.
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
  // it is reached unless the failure is met again alone and passes.
  void Dispatch() {
    while (!walked_ && pool_.HasRoom()) {
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
      try {
        Prepare(*entry);
      } catch (...) {
        Hold(std::move(entry), State::kPrepareFailed);
        return;
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

  // Checks the entry, makes its folder and probes its target.
  void Prepare(PendingEntry& entry) {
    CheckEntry(entry.record, entry.paths);
    // Most entries share their folder with the one before, which made it:
    // it stands unless a clean-up took it since.
    if (entry.paths.folder != lastFolder_) {
      // Kept before they are made: a tree made only in part goes with the entry too.
      entry.madeFolders = MissingFolders(entry.paths.folder);
      PrepareFolder(entry.paths, preparedFolders_, ownFiles_);
      lastFolder_ = entry.paths.folder;
    }
    entry.plan.replaces = CheckTarget(entry.paths);
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
    entry.job = pool_.Submit([entry = &entry, reader = *entry.reader, total = total_, own = &ownFiles_](
                                 DecodeWorkspace& work, DecodeJob& job) mutable {
      DecoderObserver decoder(job);
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
