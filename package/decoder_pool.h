// Decoders on threads of their own for the entries of one package. The thread
// that walks the records submits one job per entry, in record order, and
// takes them back in the same order; at most `maxInFlight` jobs are out at
// once, so memory and temporary files stay flat however large the package.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "package/package.h"
#include "package/stream_decoder.h"

namespace package {

class DecoderPool;

// One entry's decoding, shared by the decoder that runs it and the thread
// that commits it.
class DecodeJob {
 public:
  // Decoder side: true once the decoder should give up between chunks (the
  // pool was stopped, an earlier entry failed, or the job was abandoned).
  bool StopRequested() const;
  // Decoder side: the package's whole percent after a chunk; kept only when
  // it changed, so an entry keeps at most 101 values.
  void Publish(std::int32_t percent);
  // Decoder side: keeps the entry's first failure; later ones are dropped.
  void Fail(std::exception_ptr failure);

  std::uint64_t sequence() const { return sequence_; }

 private:
  friend class DecoderPool;
  enum class State { kQueued, kRunning, kDone, kStopped };

  DecoderPool* pool_ = nullptr;
  std::uint64_t sequence_ = 0;
  std::function<bool(DecodeWorkspace&, DecodeJob&)> work_;
  // Guarded by the pool's mutex.
  State state_ = State::kQueued;
  std::exception_ptr failure_;
  std::vector<std::int32_t> published_;
  bool released_ = false;
  // Read by its decoder between chunks without the lock.
  std::atomic<bool> abandoned_{false};
  // The decoder's own.
  std::int32_t lastPublished_ = -1;
};

class DecoderPool {
 public:
  // The work decodes one entry with the decoder's own buffers; false when it
  // gave up on a stop. Whatever it throws is kept as the entry's failure.
  using Work = std::function<bool(DecodeWorkspace& work, DecodeJob& job)>;

  DecoderPool(std::size_t decoders, std::size_t maxInFlight, const ExtractBuffers& buffers);
  ~DecoderPool();
  DecoderPool(const DecoderPool&) = delete;
  DecoderPool& operator=(const DecoderPool&) = delete;

  // Whether another job may be submitted now.
  bool HasRoom() const;
  // Queues the next entry in record order. A job behind a failed one is
  // stopped without running.
  std::shared_ptr<DecodeJob> Submit(Work work);

  // Waits up to `timeout` for `job` to end, handing what it published since
  // the last call to `progress` either way. True once it has ended.
  bool Wait(DecodeJob& job, std::chrono::milliseconds timeout, const std::function<void(std::int32_t)>& progress);
  // Of an ended job: whether it ran through, and its first failure (null
  // when none).
  bool Completed(const DecodeJob& job) const;
  std::exception_ptr Failure(const DecodeJob& job) const;
  // The committer is done with `job`: its place goes to the next entry.
  void Release(DecodeJob& job);
  // The job's work is no longer wanted: its decoder gives up between chunks,
  // or it never starts. Wait for it to end before its entry goes.
  void Abandon(DecodeJob& job) { job.abandoned_ = true; }

  // Every decoder gives up between chunks, queued jobs never start; returns
  // once no job is running any more. The pool takes no further work.
  void StopAndWait();

  // Lets jobs submitted from now on run again after a failure; call it once
  // every job behind the failed one has ended.
  void ForgetFailure() { firstFailed_ = UINT64_MAX; }

  // The most jobs that were out (submitted, not yet released) at once.
  std::size_t PeakInFlight() const;

 private:
  friend class DecodeJob;
  void Decode();
  bool StopRequestedFor(const DecodeJob& job) const;

  const std::size_t maxInFlight_;
  const ExtractBuffers buffers_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;   // decoders wait for work
  std::condition_variable changed_;  // the committer waits for progress or an end
  std::deque<std::shared_ptr<DecodeJob>> queue_;
  std::uint64_t nextSequence_ = 0;
  // Read by decoders between chunks without the lock.
  std::atomic<std::uint64_t> firstFailed_{UINT64_MAX};
  std::atomic<bool> stopped_{false};
  std::size_t inFlight_ = 0;
  std::size_t peakInFlight_ = 0;
  std::size_t running_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// One decoder per hardware thread; at least one, at most kMaxDecoders.
std::size_t DefaultDecoders();

}  // namespace package
