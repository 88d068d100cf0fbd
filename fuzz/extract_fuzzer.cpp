// Extraction of arbitrary package bytes into a fresh destination. Whatever the
// bytes, nothing outside the destination may be created or changed, every
// failure is a FileError or a status, and no descriptor is left open.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/scratch.h"
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

  if (fuzz::OpenDescriptors() != descriptors) std::abort();
  if (Outside(layout) != before) std::abort();
  return 0;
}
