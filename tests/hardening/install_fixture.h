// Three small packages in a package folder, a destination beside them and a
// folder of files that no installation may touch; the checks every fault test
// shares.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hardening/sandbox.h"
#include "package/package.h"

struct PackageFile {
  std::wstring folder;  // as stored: "\"-separated
  std::wstring name;
  std::vector<std::uint8_t> content;
};

// 2020-05-01 12:00:00 UTC as a Windows file time: whole seconds, so it comes
// back unchanged.
inline constexpr std::uint64_t kStoredTime = (1'588'334'400ull + 11'644'473'600ull) * 10'000'000ull;

// What the extractor's plain-function callbacks were told.
struct CallbackLog {
  static std::vector<std::wstring>& Errors() {
    static std::vector<std::wstring> errors;
    return errors;
  }
  static void OnError(const std::wstring& message) { Errors().push_back(message); }
  static void OnProgress(std::int32_t, std::int32_t, const std::wstring&) {}
};

// The user's answers to a file error, and what a run of several packages
// through the wizard's own run ends with.
enum class Answer { kAbort, kRetry, kIgnore };
struct RunOutcome {
  bool stopped = false;
  bool destinationRecorded = false;  // GeoPath written at the end
  std::vector<std::wstring> shownErrors;
};

class InstallFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::wstring PackagePath(const std::wstring& name) const;
  std::filesystem::path Destination() const { return destinationPath_; }
  // Unpacks into another folder of the sandbox from now on.
  void UseDestination(const std::string& relative);
  // Writes a package of the given files to the package folder.
  void AddPackage(const std::wstring& name, std::vector<PackageFile> files);
  // Extracts one package into the destination with the logging callbacks.
  HRESULT Extract(const std::wstring& name);
  // `answer` gets the message the user would see.
  RunOutcome Run(const std::vector<std::wstring>& names, const std::function<Answer(const std::wstring&)>& answer);

  // Every file of the package is in place, whole, with its stored time.
  void ExpectInstalled(const std::wstring& name);
  void ExpectNothingOf(const std::wstring& name);
  // Puts an earlier version of a file in the destination, with content and a
  // time of its own, for a test that replaces it.
  void PlaceEarlier(const std::wstring& relative, const std::vector<std::uint8_t>& content);
  // The earlier version is still there, byte for byte and with its time.
  void ExpectEarlierKept(const std::wstring& relative);
  // No temporary file of the extraction is left anywhere in the sandbox.
  void ExpectNoTempFiles();
  std::wstring DestinationPath(const std::wstring& relative) const;
  // Where the stored data of the package's entry `index` begins.
  std::uint64_t DataOffset(const std::wstring& name, std::size_t index) const;
  // Takes the present state outside the destination as the one to keep, for
  // a test that changed it on purpose.
  void RecordOutsideState() { outsideBefore_ = Snapshot(sandbox_.root(), Destination()); }

  Sandbox sandbox_;
  std::wstring packageFolder_;
  std::wstring destination_;
  std::filesystem::path destinationPath_;
  std::map<std::wstring, std::vector<PackageFile>> packages_;

 private:
  std::map<std::string, EntryState> outsideBefore_;
  std::map<std::wstring, std::vector<std::uint8_t>> earlier_;
};
