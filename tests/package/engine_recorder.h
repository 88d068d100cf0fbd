// What the engine told its observer, as words: every call but the stop
// questions and the questions about targets, whose number depends on how
// far ahead the walk runs and how long the committer waits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/engine.h"

class Recorder : public package::Observer {
 public:
  std::vector<std::wstring> calls;

  void OnHeaderChecked(const package::PackageHeader& header, package::HeaderFault fault) override {
    calls.push_back(L"header " + header.GUID() + L" " + std::to_wstring(static_cast<int>(fault)));
  }
  void OnEntryStarted(const package::PackageFileRecord& record, const std::wstring& outputPath) override {
    calls.push_back(L"start " + record.Name() + L" " + outputPath);
  }
  void OnProgress(std::int32_t percent, const package::PackageFileRecord& record) override {
    calls.push_back(L"progress " + std::to_wstring(percent) + L" " + record.Name());
  }
  void OnFoldersCreated(const std::vector<std::wstring>& folders) override {
    std::wstring call = L"folders";
    for (const std::wstring& folder : folders)
      call += L" " + folder;
    calls.push_back(call);
  }
  void OnEntryFinished(const std::wstring& outputPath, std::uint64_t bytesWritten, std::uint32_t adler32) override {
    calls.push_back(L"finished " + outputPath + L" " + std::to_wstring(bytesWritten) + L" " + std::to_wstring(adler32));
  }
  void OnEntryUnchanged(const package::EntryFacts& facts, bool contentCompared) override {
    calls.push_back(std::wstring(contentCompared ? L"same " : L"unchanged ") + facts.outputPath);
  }
};
