#include "platform/fault_injection.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform::fault_injection {
namespace {

struct Armed {
  Fault fault;
  std::uint64_t transferred = 0;
};

// Tests may arm faults while an extraction runs on another thread.
std::mutex g_mutex;
std::vector<Armed> g_armed;
std::size_t g_hits = 0;

bool Matches(const Fault& fault, Operation operation, const std::wstring& path) {
  return fault.operation == operation &&
         (fault.pathContains.empty() || path.find(fault.pathContains) != std::wstring::npos);
}

}  // namespace

void Arm(const Fault& fault) {
  std::lock_guard lock(g_mutex);
  g_armed.push_back({fault});
}

void Clear() {
  std::lock_guard lock(g_mutex);
  g_armed.clear();
  g_hits = 0;
}

std::size_t HitCount() {
  std::lock_guard lock(g_mutex);
  return g_hits;
}

std::optional<ErrorCode> OnTransfer(Operation operation, const std::wstring& path, std::size_t* count) {
  std::lock_guard lock(g_mutex);
  for (Armed& armed : g_armed) {
    if (!Matches(armed.fault, operation, path)) continue;
    const std::uint64_t left = armed.fault.afterBytes - std::min(armed.transferred, armed.fault.afterBytes);
    if (left == 0) {
      ++g_hits;
      return armed.fault.error;
    }
    *count = static_cast<std::size_t>(std::min<std::uint64_t>(*count, left));
    armed.transferred += *count;
  }
  return std::nullopt;
}

std::optional<ErrorCode> OnRead(const std::wstring& path, std::uint64_t offset, std::size_t* count) {
  std::lock_guard lock(g_mutex);
  for (const Armed& armed : g_armed) {
    if (!Matches(armed.fault, Operation::kRead, path)) continue;
    const std::uint64_t spot = armed.fault.afterBytes;
    if (offset > spot || spot - offset >= *count) continue;
    if (offset == spot) {
      ++g_hits;
      return armed.fault.error;
    }
    *count = static_cast<std::size_t>(spot - offset);
  }
  return std::nullopt;
}

std::optional<ErrorCode> OnCall(Operation operation, const std::wstring& path) {
  std::lock_guard lock(g_mutex);
  for (const Armed& armed : g_armed) {
    if (!Matches(armed.fault, operation, path)) continue;
    ++g_hits;
    return armed.fault.error;
  }
  return std::nullopt;
}

void OnTruncate(const std::wstring& path, std::uint64_t freed) {
  std::lock_guard lock(g_mutex);
  for (Armed& armed : g_armed)
    if (Matches(armed.fault, Operation::kWrite, path)) armed.transferred -= std::min(armed.transferred, freed);
}

void OnOpenForReading(const std::wstring& path) {
  std::lock_guard lock(g_mutex);
  for (const Armed& armed : g_armed) {
    if (!Matches(armed.fault, Operation::kVanish, path)) continue;
    if (RemoveFile(path)) ++g_hits;
    return;
  }
}

}  // namespace platform::fault_injection
