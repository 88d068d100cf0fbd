#include "package/decoder_pool.h"

#include <algorithm>

#include "package/engine.h"

namespace package {

bool DecodeJob::StopRequested() const { return pool_->StopRequestedFor(*this); }

void DecodeJob::Publish(std::int32_t percent) {
  if (percent == lastPublished_) return;
  lastPublished_ = percent;
  {
    std::lock_guard lock(pool_->mutex_);
    published_.push_back(percent);
  }
  pool_->changed_.notify_all();
}

void DecodeJob::Fail(std::exception_ptr failure) {
  std::lock_guard lock(pool_->mutex_);
  if (failure_) return;
  failure_ = std::move(failure);
  // Later entries are wasted work now: the committer will stop at this one.
  if (sequence_ < pool_->firstFailed_) pool_->firstFailed_ = sequence_;
}

DecoderPool::DecoderPool(std::size_t decoders, std::size_t maxInFlight, const ExtractBuffers& buffers)
    : maxInFlight_(std::max<std::size_t>(maxInFlight, 1)), buffers_(buffers) {
  decoders = std::max<std::size_t>(decoders, 1);
  threads_.reserve(decoders);
  try {
    for (std::size_t i = 0; i < decoders; ++i)
      threads_.emplace_back([this] { Decode(); });
  } catch (...) {
    // Fewer threads than asked still decode everything; none at all cannot.
    if (threads_.empty()) throw;
  }
}

DecoderPool::~DecoderPool() {
  StopAndWait();
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_)
    thread.join();
}

bool DecoderPool::StopRequestedFor(const DecodeJob& job) const {
  return stopped_ || job.abandoned_ || job.sequence_ > firstFailed_;
}

bool DecoderPool::HasRoom() const {
  std::lock_guard lock(mutex_);
  return inFlight_ < maxInFlight_;
}

std::shared_ptr<DecodeJob> DecoderPool::Submit(Work work) {
  auto job = std::make_shared<DecodeJob>();
  job->pool_ = this;
  job->work_ = std::move(work);
  {
    std::lock_guard lock(mutex_);
    job->sequence_ = nextSequence_++;
    ++inFlight_;
    peakInFlight_ = std::max(peakInFlight_, inFlight_);
    if (StopRequestedFor(*job)) {
      job->state_ = DecodeJob::State::kStopped;
      job->work_ = nullptr;
      return job;
    }
    queue_.push_back(job);
  }
  queued_.notify_one();
  return job;
}

bool DecoderPool::Wait(DecodeJob& job, std::chrono::milliseconds timeout,
                       const std::function<void(std::int32_t)>& progress) {
  std::vector<std::int32_t> taken;
  bool ended = false;
  {
    std::unique_lock lock(mutex_);
    auto ready = [&] {
      return !job.published_.empty() || job.state_ == DecodeJob::State::kDone ||
             job.state_ == DecodeJob::State::kStopped;
    };
    changed_.wait_for(lock, timeout, ready);
    taken.swap(job.published_);
    ended = job.state_ == DecodeJob::State::kDone || job.state_ == DecodeJob::State::kStopped;
  }
  // Outside the lock: the committer's observer may take its time.
  if (progress)
    for (const std::int32_t percent : taken)
      progress(percent);
  return ended;
}

bool DecoderPool::Completed(const DecodeJob& job) const {
  std::lock_guard lock(mutex_);
  return job.state_ == DecodeJob::State::kDone;
}

std::exception_ptr DecoderPool::Failure(const DecodeJob& job) const {
  std::lock_guard lock(mutex_);
  return job.failure_;
}

void DecoderPool::Release(DecodeJob& job) {
  std::lock_guard lock(mutex_);
  if (job.released_) return;
  job.released_ = true;
  --inFlight_;
}

void DecoderPool::StopAndWait() {
  std::unique_lock lock(mutex_);
  stopped_ = true;
  for (const auto& job : queue_) {
    job->state_ = DecodeJob::State::kStopped;
    job->work_ = nullptr;
  }
  queue_.clear();
  changed_.notify_all();
  changed_.wait(lock, [&] { return running_ == 0; });
}

std::size_t DecoderPool::PeakInFlight() const {
  std::lock_guard lock(mutex_);
  return peakInFlight_;
}

void DecoderPool::Decode() {
  // Each decoder's buffers and zlib state, allocated once for all its entries.
  std::unique_ptr<DecodeWorkspace> workspace;
  for (;;) {
    std::shared_ptr<DecodeJob> job;
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      if (StopRequestedFor(*job)) {
        job->state_ = DecodeJob::State::kStopped;
        job->work_ = nullptr;
        changed_.notify_all();
        continue;
      }
      job->state_ = DecodeJob::State::kRunning;
      ++running_;
    }
    bool completed = false;
    try {
      if (!workspace) workspace = std::make_unique<DecodeWorkspace>(buffers_);
      completed = job->work_(*workspace, *job);
    } catch (...) {
      job->Fail(std::current_exception());
    }
    {
      std::lock_guard lock(mutex_);
      job->state_ = completed ? DecodeJob::State::kDone : DecodeJob::State::kStopped;
      job->work_ = nullptr;
      --running_;
    }
    changed_.notify_all();
  }
}

std::size_t DefaultDecoders() { return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxDecoders); }

}  // namespace package
