// What the extractor's callbacks were told. The callbacks are plain function
// pointers, so the record lives in one place that each test resets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgressCall {
  std::int32_t percent;
  std::int32_t maximum;
  std::wstring fileName;
};

struct CallbackRecord {
  std::vector<ProgressCall> progress;
  std::vector<std::wstring> errors;

  static CallbackRecord& Current() {
    static CallbackRecord record;
    return record;
  }
  static void Reset() { Current() = {}; }
  static void OnProgress(std::int32_t percent, std::int32_t maximum, const std::wstring& fileName) {
    Current().progress.push_back({percent, maximum, fileName});
  }
  static void OnError(const std::wstring& message) { Current().errors.push_back(message); }
};
