// Extraction of arbitrary package bytes into a fresh destination, then once
// more over what the first run left, skipping unchanged files with answers
// drawn from the input. Whatever the bytes, nothing outside the destination
// may be created or changed, every failure is a FileError or a status, no
// descriptor is left open, a file left unchanged is as it was when its entry
// was asked about, and one left after a comparison holds the entry's size
// and check value.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/scratch.h"
#include "package/engine.h"
#include "package/package.h"
#include "package/trace.h"
#include "platform/text.h"

namespace {

// Deeper than any stored path can climb (folder and name hold at most 357
// characters, so at most 119 ".." steps): an escape lands inside the scratch
// root, where the snapshot sees it.
constexpr int kDepth = 120;

// What an escape would change: the entries and size of every folder on the
// way down to the destination (tmpfs counts a folder's entries in its size),
// and the files that lie there.
struct FolderState {
  ino_t inode;
  nlink_t links;
  off_t size;
  time_t seconds;
  long nanoseconds;
  bool operator==(const FolderState&) const = default;
};

struct State {
  std::vector<FolderState> folders;
  std::string keep;
  std::string package;
  bool operator==(const State&) const = default;
};

std::string Content(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Layout {
  std::filesystem::path root, packages, destination;
  // Root, Karten and the way down, held open so that a check costs no path walk.
  std::vector<int> folders;
  std::wstring destinationText;
};

State Outside(const Layout& layout) {
  State state;
  for (const int folder : layout.folders) {
    struct stat info {};
    if (::fstat(folder, &info) != 0) std::abort();
    state.folders.push_back({info.st_ino, info.st_nlink, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec});
  }
  state.keep = Content(layout.root / "keep.txt");
  state.package = Content(layout.packages / "FUZZ.nwq");
  return state;
}

const Layout& Setup() {
  static const Layout layout = [] {
    // A zlib bomb or a long run of entries ends in a FileError, not a full disk.
    const rlimit fileSize{16 << 20, 16 << 20};
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    ::signal(SIGXFSZ, SIG_IGN);
    package::trace::SetEnabled(false);
    Layout l;
    l.root = fuzz::ScratchRoot() / "extract";
    l.packages = l.root / "Karten";
    std::filesystem::create_directories(l.packages);
    std::filesystem::path deep = l.root;
    for (int i = 0; i < kDepth; ++i)
      deep /= "d";
    std::filesystem::create_directories(deep);
    l.destination = deep / "dest";
    for (auto folder = deep; folder != l.root.parent_path(); folder = folder.parent_path())
      l.folders.push_back(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    l.folders.push_back(::open(l.packages.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    l.destinationText = fuzz::Wide(l.destination) + L"/";
    fuzz::WriteFile(l.root / "keep.txt", reinterpret_cast<const std::uint8_t*>("keep"), 4);
    return l;
  }();
  return layout;
}

// Callback texts name the failing folder or file; none may be unknown.
bool KnownMessage(const std::wstring& message) {
  static const wchar_t* const kStarts[] = {L"Der Ordner '", L"Die Ausgabedatei '", L"Die Datei '", L"Der Pfad '"};
  for (const wchar_t* start : kStarts)
    if (message.starts_with(start)) return true;
  return false;
}

void OnError(const std::wstring& message) {
  if (!KnownMessage(message)) std::abort();
}

void OnProgress(std::int32_t percent, std::int32_t maximum, const std::wstring&) {
  if (percent < 0 || percent > 100 || maximum != 100) std::abort();
}

// A file's bytes through the platform layer, which takes any path the
// package spells; nullopt when there is no file to read.
std::optional<std::string> ReadWhole(const std::wstring& path) {
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kReadShareRead)) return std::nullopt;
  try {
    std::string bytes;
    char buffer[65536];
    while (const std::size_t got = file.Read(buffer, sizeof buffer))
      bytes.append(buffer, got);
    return bytes;
  } catch (const FileError&) {
    return std::nullopt;
  }
}

// Answers by a byte of the input that the entry's path picks, so that the
// same facts get the same answer however often they are asked, and checks
// what the engine then says it left.
class Answering : public package::Observer {
 public:
  Answering(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  package::TargetCheck CompareTarget(const package::EntryFacts& facts) override {
    if (facts.outputPath.empty()) std::abort();
    // The path's hash too: most bytes of a package are zeros.
    const std::size_t path = std::hash<std::wstring>()(facts.outputPath);
    const auto answer = static_cast<package::TargetCheck>((path + (size_ == 0 ? 0 : data_[path % size_])) % 3);
    if (answer == package::TargetCheck::kUnchanged) asked_[facts.outputPath] = ReadWhole(facts.outputPath);
    return answer;
  }
  void OnEntryUnchanged(const package::EntryFacts& facts, bool contentCompared) override {
    const std::optional<std::string> now = ReadWhole(facts.outputPath);
    if (!contentCompared) {
      const auto asked = asked_.find(facts.outputPath);
      if (asked == asked_.end() || asked->second != now) std::abort();
      return;
    }
    if (!now || now->size() != facts.size) std::abort();
    const auto adler =
        adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(now->data()), static_cast<uInt>(now->size()));
    if (adler != facts.adler32) std::abort();
  }
  void OnProgress(std::int32_t percent, const package::PackageFileRecord&) override {
    if (percent <= lastPercent_ || percent > 100) std::abort();
    lastPercent_ = percent;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::map<std::wstring, std::optional<std::string>> asked_;
  std::int32_t lastPercent_ = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Layout& layout = Setup();
  std::filesystem::remove_all(layout.destination);
  std::filesystem::create_directories(layout.destination);
  fuzz::WriteFile(layout.packages / "FUZZ.nwq", data, size);
  const State before = Outside(layout);
  const std::size_t descriptors = fuzz::OpenDescriptors();

  try {
    const HRESULT status =
        package::ExtractPackage(fuzz::Wide(layout.packages), L"FUZZ", layout.destinationText, &OnProgress, &OnError);
    if (status != S_OK && status != E_FAIL) std::abort();
  } catch (const FileError& error) {
    if (error.cause() <= FileError::kNone || error.cause() > FileError::kDamaged) std::abort();
    if (error.Text().empty()) std::abort();
  }

  Answering answering(data, size);
  package::Options options;
  options.skipUnchanged = true;
  try {
    package::Extract(fuzz::Wide(layout.packages / "FUZZ.nwq"), L"FUZZ", layout.destinationText, answering, options);
  } catch (const FileError& error) {
    if (error.cause() <= FileError::kNone || error.cause() > FileError::kDamaged) std::abort();
    if (error.Text().empty()) std::abort();
  }

  if (fuzz::OpenDescriptors() != descriptors) std::abort();
  if (Outside(layout) != before) std::abort();
  return 0;
}
