// extract_bench [--mib N] [--work DIR] [--disk DIR] [--nwq PATH] [--runs N]
//               [--budget BYTES]
//
// Builds three packages and reports MiB/s of written output and the peak
// resident memory of each way of extracting them, each run in its own
// process, the median of --runs runs:
//  - a map-like package of many files of mixed sizes (text tiles, vectors, a
//    16-bit raster, PNGs and incompressible bytes), where no entry takes more
//    than a small share of the decoding work;
//  - a package of many small text tiles (about 50 KiB each), where what a
//    run does per file weighs most;
//  - a package whose one large entry takes most of the work, where decoding
//    entries side by side cannot help.
// The in-memory baseline's peak includes the loaded streams and its buffer.
//
// The packages and the first table's output live in a folder the benchmark
// makes inside --work DIR (in memory by default). The engine rows decode with
// and without whole entries; --budget sets their whole-entry budget (the
// engine's by default), 0 streams all.
//
// The second table runs the engine as `nwq extract` does, into memory and
// into a folder on a disk (by default beside this program, so on the disk
// that holds the build; --disk DIR makes the folder inside DIR): a fresh
// install into an empty folder, and an update over the tree the run before
// left, where every file is replaced. It prints the disk-to-memory ratio of
// both. Engine rows also show how many entries were decoded whole, streamed,
// and flushed before they replaced a file, in one run.
//
// The third table runs the wizard's copy as the setup runs it (its install
// record and its log kept, in memory and on the disk as above), each row's
// time with its share of the first run:
//  - the first run, into an empty folder;
//  - a second run over that install, unchanged: every file left;
//  - /repair over it: every file read once and compared by its Adler-32;
//  - /force over it: every file written again, as every run did before runs
//    skipped unchanged files;
//  - a run stopped (as by Cancel) half-way through the first run's time, and
//    the run after it, which goes on where the stopped one ended: what the
//    stopped one committed is left, the file in hand and those decoded ahead
//    of it are decoded again;
//  - the same after a run whose process ended there (a crash): the files it
//    wrote are not in the record and are compared by their content;
//  - `nwq extract` into an empty folder and `nwq extract --update` over that
//    tree (shares of the former).
// On the disk, every run but the first starts with the installed files'
// data dropped from the page cache (their folders and sizes stay cached), so
// that what /repair reads comes from the disk. The rows show how many
// entries each run decoded, left unchanged and compared by content.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/copy_rule.h"
#include "app/install_log.h"
#include "app/installation_run.h"
#include "app/installed_setup.h"
#include "package/decoder_pool.h"
#include "package/engine.h"
#include "package/package_path.h"
#include "package/record_walker.h"
#include "package/trace.h"
#include "package/writer.h"
#include "package/zlib_stream.h"
#include "platform/handles.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "tools/samplemaps/sample_maps.h"

namespace fs = std::filesystem;

namespace {

struct Counts {
  std::uint64_t whole = 0, streamed = 0, flushed = 0, compared = 0, unchanged = 0;
  bool operator==(const Counts&) const = default;
};

struct Measurement {
  double seconds = 0;
  long peakKib = 0;
  std::optional<Counts> counts;  // the first run's
  bool countsVaried = false;     // a later run counted otherwise
};

// What a child sends back.
struct Report {
  double seconds = 0;
  Counts counts;
};

// Runs `work` in a forked child `runs` times and keeps the median time and the
// largest peak resident size. The child times only `work`, after its own
// untimed `setup`, and sends the time back through a pipe, with what `counts`
// (the child's copy, zero at the fork) holds after `work`. The parent stays
// small, so a child's peak is its own work's, not what it inherited.
Measurement Measure(int runs, const std::function<void()>& prepare, const std::function<void()>& setup,
                    const std::function<void()>& work, const package::DecodeCounts* counts = nullptr) {
  std::vector<double> times;
  long peakKib = 0;
  Measurement m;
  for (int i = 0; i < runs; ++i) {
    prepare();
    int channel[2];
    if (pipe(channel) != 0) std::exit(1);
    platform::UniqueFd readEnd(channel[0]), writeEnd(channel[1]);
    const pid_t child = fork();
    if (child == 0) {
      readEnd.Reset();
      try {
        setup();
        const auto start = std::chrono::steady_clock::now();
        work();
        Report report;
        report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (counts)
          report.counts = {counts->whole.load(), counts->streamed.load(), counts->flushed.load(),
                           counts->compared.load(), counts->unchanged.load()};
        if (write(writeEnd.Get(), &report, sizeof report) != sizeof report) _exit(1);
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    writeEnd.Reset();
    Report report;
    const bool timed = read(readEnd.Get(), &report, sizeof report) == sizeof report;
    readEnd.Reset();
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!timed || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "a measured run failed\n");
      std::exit(1);
    }
    times.push_back(report.seconds);
    peakKib = std::max(peakKib, usage.ru_maxrss);
    if (!counts) continue;
    if (!m.counts)
      m.counts = report.counts;
    else if (!(*m.counts == report.counts))
      m.countsVaried = true;
  }
  std::sort(times.begin(), times.end());
  m.seconds = times[times.size() / 2];
  m.peakKib = peakKib;
  return m;
}

struct Entry {
  std::vector<unsigned char> stored;
  std::uint64_t decodedSize = 0;
};

// Every entry's stored stream, for the in-memory measurement.
std::vector<Entry> LoadEntries(const std::wstring& path) {
  std::vector<Entry> entries;
  platform::File file;
  file.Open(path, platform::File::Mode::kReadExclusive);
  package::RecordWalker walker(file, package::kPackageHeaderSize, file.Length());
  package::PackageFileRecord record;
  while (walker.Next(&record)) {
    Entry e{std::vector<unsigned char>(static_cast<std::size_t>(record.FileSize())), 0};
    walker.ReadData(e.stored.data(), e.stored.size());
    entries.push_back(std::move(e));
  }
  return entries;
}

// One zlib call per stream, whole input into a whole output buffer: the
// single-core limit of inflate, with no file system at all.
void InflateEntry(Entry& e, std::vector<unsigned char>& output) {
  const package::UniqueInflateStream stream(new z_stream{});
  z_stream& z = *stream.Get();
  inflateInit(&z);
  z.next_in = e.stored.data();
  z.avail_in = static_cast<uInt>(e.stored.size());
  z.next_out = output.data();
  z.avail_out = static_cast<uInt>(output.size());
  if (inflate(&z, Z_FINISH) != Z_STREAM_END) throw 1;
  e.decodedSize = z.total_out;
}

void InflateInMemory(std::vector<Entry>& entries, std::vector<unsigned char>& output) {
  for (Entry& e : entries)
    InflateEntry(e, output);
}

// The share of the in-memory decoding time that the costliest entry takes.
double LargestEntryShare(const std::wstring& path, std::size_t outputSize) {
  std::vector<Entry> entries = LoadEntries(path);
  std::vector<unsigned char> output(outputSize);
  double total = 0, largest = 0;
  for (Entry& e : entries) {
    const auto start = std::chrono::steady_clock::now();
    InflateEntry(e, output);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    total += seconds;
    largest = std::max(largest, seconds);
  }
  return total > 0 ? largest / total : 0;
}

// The wizard's buffer scheme with nothing else: no progress, no path checks,
// no times. The ceiling for 4096/8192-byte buffers.
void BareLoop(const std::wstring& packagePath, const std::wstring& destination) {
  platform::File package;
  package.Open(packagePath, platform::File::Mode::kReadExclusive);
  package::RecordWalker walker(package, package::kPackageHeaderSize, package.Length());
  unsigned char in[4096], out[8192];
  package::PackageFileRecord record;
  while (walker.Next(&record)) {
    const package::package_path::EntryPaths paths =
        package::package_path::Join(destination, record.Folder(), record.Name());
    platform::CreateFolderTree(paths.folder);
    platform::File output;
    output.Open(paths.file, platform::File::Mode::kCreateWriteExclusive);
    const package::UniqueInflateStream stream(new z_stream{});
    z_stream& z = *stream.Get();
    inflateInit(&z);
    for (;;) {
      const std::size_t got = walker.ReadData(in, sizeof in);
      if (got == 0) break;
      z.next_in = in;
      z.avail_in = static_cast<uInt>(got);
      do {
        z.next_out = out;
        z.avail_out = sizeof out;
        const int result = inflate(&z, Z_NO_FLUSH);
        output.Write(out, sizeof out - z.avail_out);
        if (result != Z_OK) break;
      } while (z.avail_in > 0 || z.avail_out == 0);
    }
  }
}

void ExtractOrFail(const std::wstring& packagePath, const std::wstring& name, const std::wstring& destination,
                   const package::Options& options) {
  package::Observer quiet;
  if (package::Extract(packagePath, name, destination, quiet, options).outcome != package::Outcome::kExtracted) throw 1;
}

// An engine run, measured with how its entries were decoded and flushed.
Measurement MeasureEngine(int runs, const std::function<void()>& prepare, const std::wstring& packagePath,
                          const std::wstring& name, const std::wstring& destination, package::Options options) {
  package::DecodeCounts counts;
  options.counts = &counts;
  return Measure(
      runs, prepare, [] {}, [&] { ExtractOrFail(packagePath, name, destination, options); }, &counts);
}

// The wizard's whole copy run, without its window, keeping its install
// record in `setupFolder` as every run of the setup does.
void WizardRun(const std::wstring& folder, const std::wstring& name, const std::wstring& destination,
               const std::wstring& setupFolder) {
  app::RecordKeeper::Hooks hooks;
  hooks.programPath = platform::ProgramPath(4096);
  app::RecordKeeper keeper(app::SetupPlace{setupFolder}, nullptr, hooks);
  app::InstallationJob job;
  job.packageFolder = folder;
  job.destinationFolder = destination;
  job.packages = {name};
  job.record = &keeper;
  job.answer = [](const app::FailureQuestion&) { return app::FileErrorAnswer::kAbort; };
  app::SilentRunView view;
  if (app::RunInstallation(job, view) != app::RunEnd::kFinished) throw 1;
}

// How a copy run of the setup is made, and where it ends early.
struct CopyRun {
  app::CopyRule rule = app::CopyRule::kSkipUnchanged;
  // The run is stopped, as by Cancel, once it has run this long; 0: it
  // runs through.
  double stopAfter = 0;
  // There the process ends instead, as in a crash: nothing more is recorded.
  bool killed = false;
};

// The wizard's copy run as the setup makes it, without its window: its
// install record and its log (as /log= writes it) in `setupFolder`, and the
// engine as the run sets it up for the rule, its entries counted.
void CopyAsTheSetup(const std::wstring& folder, const std::wstring& name, const std::wstring& destination,
                    const std::wstring& setupFolder, const CopyRun& how, package::DecodeCounts* counts) {
  platform::CreateFolderTree(setupFolder);
  app::InstallLog log;
  if (!log.Open(setupFolder + L"setup.log", nullptr)) throw 1;
  app::RecordKeeper::Hooks hooks;
  hooks.programPath = platform::ProgramPath(4096);
  app::RecordKeeper keeper(app::SetupPlace{setupFolder}, &log, hooks);
  app::SilentRunView view;
  app::InstallationJob job;
  job.packageFolder = folder;
  job.destinationFolder = destination;
  job.packages = {name};
  job.record = &keeper;
  job.log = &log;
  job.copyRule = how.rule;
  job.answer = [](const app::FailureQuestion&) { return app::FileErrorAnswer::kAbort; };
  job.extract = [&](const std::wstring& path, const std::wstring& packageName, const std::wstring& target,
                    package::Observer& observer) {
    package::Options options = app::ExtractOptionsFor(how.rule);
    options.counts = counts;
    return package::Extract(path, packageName, target, observer, options);
  };
  const auto start = std::chrono::steady_clock::now();
  if (how.stopAfter > 0)
    job.stopRequested = [&] {
      if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < how.stopAfter) return false;
      if (how.killed) _exit(0);
      return true;
    };
  const app::RunEnd end = app::RunInstallation(job, view);
  // A run to be stopped may still end first, on a machine in a hurry.
  if (end != app::RunEnd::kFinished && (how.stopAfter == 0 || end != app::RunEnd::kCancelled)) throw 1;
}

// Runs `work` in a forked child that may end itself with _exit(0).
void RunInChild(const std::function<void()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    try {
      work();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "an unmeasured run failed\n");
    std::exit(1);
  }
}

// Writes back what is dirty, then drops the data of every file below `root`
// from the page cache: a run reads them from the disk again. Their inodes
// and folders stay cached.
void DropCachedData(const fs::path& root) {
  sync();
  if (!fs::exists(root)) return;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const platform::UniqueFd file(open(e.path().c_str(), O_RDONLY | O_CLOEXEC));
    if (file) posix_fadvise(file.Get(), 0, 0, POSIX_FADV_DONTNEED);
  }
}

// Packs every file below `source` into `packagePath`, sorted by path, with
// its times as `nwq create` stores them: a run that skips unchanged files
// compares them.
void Pack(const fs::path& source, const std::wstring& packagePath, const std::wstring& name) {
  package::PackageWriter writer(packagePath, *package::PackageHeader::Make(name, L"Benchmark", L""));
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(source))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    const std::wstring sub = package::package_path::StoredFolderOf(f.parent_path().lexically_relative(source));
    platform::FileTimes times;
    if (!platform::GetFileTimes(f.wstring(), &times)) throw 1;
    writer.AddFile(sub, f.filename().wstring(), f.wstring(), times.lastWrite, times.lastWrite);
  }
  writer.Close();
}

// Many files: the sample maps as a medium holds them.
void MakeMapSource(const fs::path& source, double mib) {
  sample_maps::Generate(sample_maps::Kind::kMixed, source, static_cast<std::uint64_t>(mib * 1024 * 1024), 42);
}

// Many small files alike: text tiles only.
void MakeTilesSource(const fs::path& source, double mib) {
  sample_maps::Generate(sample_maps::Kind::kTiles, source, static_cast<std::uint64_t>(mib * 1024 * 1024), 42);
}

// One text file of seven eighths of the bytes beside a few small files.
void MakeOneBigSource(const fs::path& source, double mib) {
  const auto bytes = static_cast<std::uint64_t>(mib * 1024 * 1024);
  sample_maps::Generate(sample_maps::Kind::kMixed, source / "klein", bytes / 8, 7);
  const fs::path tiles = source.parent_path() / "tiles-tmp";
  sample_maps::Generate(sample_maps::Kind::kTiles, tiles, bytes - bytes / 8, 9);
  std::vector<fs::path> parts;
  for (const auto& e : fs::recursive_directory_iterator(tiles))
    if (e.is_regular_file()) parts.push_back(e.path());
  std::sort(parts.begin(), parts.end());
  std::ofstream big(source / "gesamt.csv", std::ios::binary);
  for (const auto& part : parts)
    big << std::ifstream(part, std::ios::binary).rdbuf();
  big.close();
  fs::remove_all(tiles);
}

// The copy runs of the setup over what an earlier run left, in one place.
struct CopyFigures {
  Measurement first, second, repair, force, cancelled, resumed, resumedAfterKill, tool, toolUpdate;
};

struct Figures {
  Measurement memory, bare, oldWizard, streamOne, engineOne, streamMany, engineMany, tool, wizard;
  Measurement freshMemory, updateMemory, freshDisk, updateDisk;
  CopyFigures copyMemory, copyDisk;
};

// What holds `folder`: the disk rows mean something only when it is not memory.
const char* FileSystemKind(const fs::path& folder) {
  struct statfs s {};
  if (statfs(folder.c_str(), &s) != 0) return "unknown";
  if (s.f_type == static_cast<decltype(s.f_type)>(TMPFS_MAGIC)) return "tmpfs";
  if (s.f_type == static_cast<decltype(s.f_type)>(RAMFS_MAGIC)) return "ramfs";
  return "disk";
}

bool SameDevice(const fs::path& a, const fs::path& b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

std::uint64_t LargestFile(const fs::path& root, std::uint64_t* total) {
  std::uint64_t largest = 0;
  *total = 0;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) {
      largest = std::max<std::uint64_t>(largest, e.file_size());
      *total += e.file_size();
    }
  return largest;
}

}  // namespace

int main(int argc, char** argv) {
  double mib = 256;
  int runs = 5;
  // In memory by default: the disk's writeback would drown the differences.
  fs::path work =
      fs::exists("/dev/shm") ? fs::path("/dev/shm/varnholt-bench") : fs::temp_directory_path() / "varnholt-bench";
  const fs::path here = fs::absolute(argv[0]).parent_path();
  fs::path nwq = here.parent_path() / "tools" / "nwq";
  // Beside the program: on the disk that holds the build, where /tmp may be in memory.
  fs::path diskParent = here;
  std::uint64_t budget = package::kWholeEntryBudget;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--mib")
      mib = std::atof(argv[i + 1]);
    else if (option == "--work")
      // A folder of its own inside DIR, since it is emptied: `--work ~` must not empty home.
      work = fs::path(argv[i + 1]) / "varnholt-bench";
    else if (option == "--disk")
      diskParent = argv[i + 1];
    else if (option == "--nwq")
      nwq = argv[i + 1];
    else if (option == "--runs")
      runs = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--budget")
      budget = std::strtoull(argv[i + 1], nullptr, 10);
  }
  package::trace::SetEnabled(false);
  const std::size_t decoders = package::DefaultDecoders();
  fs::remove_all(work);
  fs::create_directories(work);
  // A folder of its own inside --disk, so that nothing else there is touched.
  const fs::path disk = diskParent / "varnholt-bench-disk";
  fs::remove_all(disk);
  fs::create_directories(disk);
  const std::wstring folder = work.wstring();
  const package::ExtractBuffers large = package::kLargeBuffers;

  std::printf("memory rows in %s (%s), disk rows in %s (%s)\n", work.c_str(), FileSystemKind(work), disk.c_str(),
              FileSystemKind(disk));
  if (std::string(FileSystemKind(disk)) != "disk")
    std::printf("warning: the disk rows are not on a disk, see --disk\n");
  if (SameDevice(work, disk)) std::printf("warning: both on one file system, the disk rows measure nothing new\n");
  std::printf("%zu decoders by default, whole-entry budget %llu bytes\n\n", decoders,
              static_cast<unsigned long long>(budget));

  struct Case {
    const char* title;
    std::wstring name;
    std::function<void(const fs::path&, double)> make;
  };
  const Case cases[] = {{"many files of mixed sizes", L"Karte", MakeMapSource},
                        {"many small text tiles", L"Kacheln", MakeTilesSource},
                        {"one entry with most of the work", L"Gross", MakeOneBigSource}};
  std::vector<Figures> all;
  for (const Case& c : cases) {
    const fs::path source = work / "source";
    fs::remove_all(source);
    std::printf("generating %.0f MiB, %s, in %s ...\n", mib, c.title, work.c_str());
    std::fflush(stdout);
    const std::wstring packagePath = package::BuildPackagePath(folder, c.name);
    // Generated and packed in a child, so that the parent stays small.
    Measure(
        1, [] {}, [] {},
        [&] {
          fs::create_directories(source);
          c.make(source, mib);
          Pack(source, packagePath, c.name);
        });
    std::uint64_t sourceBytes = 0;
    const std::uint64_t largest = LargestFile(source, &sourceBytes);
    fs::remove_all(source);
    const double outMib = static_cast<double>(sourceBytes) / (1024 * 1024);

    const std::wstring destination = (work / "out").wstring() + L"/";
    auto clean = [&] { fs::remove_all(work / "out"); };
    Figures f;
    std::vector<Entry> entries;
    std::vector<unsigned char> scratch;
    f.memory = Measure(
        runs, [] {},
        [&] {
          entries = LoadEntries(packagePath);
          scratch.resize(std::max<std::uint64_t>(largest, 1));
        },
        [&] { InflateInMemory(entries, scratch); });
    f.bare = Measure(
        runs, clean, [] {}, [&] { BareLoop(packagePath, destination); });
    auto engine = [&](const package::ExtractBuffers& buffers, std::size_t n, std::uint64_t wholeBudget) {
      return MeasureEngine(runs, clean, packagePath, c.name, destination, {buffers, n, wholeBudget});
    };
    f.oldWizard = engine({}, 1, budget);
    f.streamOne = engine(large, 1, 0);
    f.engineOne = engine(large, 1, budget);
    f.streamMany = engine(large, decoders, 0);
    f.engineMany = engine(large, decoders, budget);
    std::string nwqCommand = "'";
    nwqCommand.append(nwq.string()).append("' extract '").append(text::ToUtf8(packagePath));
    nwqCommand.append("' '").append((work / "out").string()).append("' >/dev/null");
    f.tool = Measure(
        runs, clean, [] {},
        [&] {
          if (std::system(nwqCommand.c_str()) != 0) throw 1;
        });
    f.wizard = Measure(
        runs, clean, [] {}, [&] { WizardRun(folder + L"/", c.name, destination, (work / "setup").wstring() + L"/"); });

    // As `nwq extract` runs it. Each run starts with nothing dirty in the page
    // cache: the data the run before wrote would otherwise be written back
    // while this one is timed. The sync is not timed.
    const package::Options asTool{large, 0, budget};
    auto install = [&](const fs::path& root, bool fresh) {
      const fs::path out = root / "out";
      const std::wstring target = out.wstring() + L"/";
      if (!fresh) {
        // The tree an earlier run left, which each timed run then replaces.
        fs::remove_all(out);
        Measure(
            1, [] {}, [] {}, [&] { ExtractOrFail(packagePath, c.name, target, asTool); });
      }
      auto prepare = [&] {
        if (fresh) fs::remove_all(out);
        sync();
      };
      const Measurement m = MeasureEngine(runs, prepare, packagePath, c.name, target, asTool);
      fs::remove_all(out);
      sync();
      return m;
    };
    f.freshMemory = install(work, true);
    f.updateMemory = install(work, false);
    f.freshDisk = install(disk, true);
    f.updateDisk = install(disk, false);
    clean();

    // The setup's copy runs over what the run before left, with the record
    // and the log in a setup folder beside the destination.
    auto copies = [&](const fs::path& root, bool onDisk) {
      const fs::path out = root / "copies";
      const fs::path setup = root / "setup-copies";
      const std::wstring target = out.wstring() + L"/";
      const std::wstring setupFolder = setup.wstring() + L"/";
      auto empty = [&] {
        fs::remove_all(out);
        fs::remove_all(setup);
        sync();
      };
      auto settle = [&] {
        if (onDisk)
          DropCachedData(out);
        else
          sync();
      };
      auto copy = [&](int repeat, const std::function<void()>& prepare, const CopyRun& how) {
        package::DecodeCounts counts;
        return Measure(
            repeat, prepare, [] {}, [&] { CopyAsTheSetup(folder + L"/", c.name, target, setupFolder, how, &counts); },
            &counts);
      };
      CopyFigures u;
      u.first = copy(runs, empty, {});
      u.second = copy(runs, settle, {});
      u.repair = copy(runs, settle, {app::CopyRule::kRepair});
      u.force = copy(runs, settle, {app::CopyRule::kWriteAll});
      // Cancel pressed half-way through the first run's time. The bar's
      // half would not do: it counts stored bytes, and a package's work is
      // not spread evenly over them.
      const double half = u.first.seconds / 2;
      // Each resumed run follows a stopped one of its own, timed apart.
      std::vector<Measurement> stopped;
      u.resumed = copy(runs,
                       [&] {
                         empty();
                         stopped.push_back(copy(1, [] {}, {app::CopyRule::kSkipUnchanged, half}));
                         settle();
                       },
                       {});
      std::sort(stopped.begin(), stopped.end(),
                [](const Measurement& a, const Measurement& b) { return a.seconds < b.seconds; });
      u.cancelled = stopped[stopped.size() / 2];
      u.resumedAfterKill = copy(runs,
                                [&] {
                                  empty();
                                  RunInChild([&] {
                                    CopyAsTheSetup(folder + L"/", c.name, target, setupFolder,
                                                   {app::CopyRule::kSkipUnchanged, half, true}, nullptr);
                                  });
                                  settle();
                                },
                                {});
      std::string command = "'";
      command.append(nwq.string()).append("' extract '").append(text::ToUtf8(packagePath));
      command.append("' '").append(out.string()).append("'");
      const std::string update = command + " --update >/dev/null";
      command += " >/dev/null";
      u.tool = Measure(
          runs, empty, [] {},
          [&] {
            if (std::system(command.c_str()) != 0) throw 1;
          });
      u.toolUpdate = Measure(
          runs, settle, [] {},
          [&] {
            if (std::system(update.c_str()) != 0) throw 1;
          });
      empty();
      return u;
    };
    f.copyMemory = copies(work, false);
    f.copyDisk = copies(disk, true);
    double share = 0;
    Measure(
        1, [] {}, [] {},
        [&] {
          share = LargestEntryShare(packagePath, static_cast<std::size_t>(std::max<std::uint64_t>(largest, 1)));
          std::printf(
              "package: %.1f MiB stored, %.1f MiB of files; the costliest entry takes %.0f %% of the "
              "decoding work\n\n",
              static_cast<double>(fs::file_size(packagePath)) / (1024 * 1024), outMib, share * 100);
          std::fflush(stdout);
        });

    auto row = [&](const char* what, const Measurement& m) {
      std::printf("%-52s %8.1f MiB/s  %5.2f  peak %6.1f MiB", what, outMib / m.seconds, f.memory.seconds / m.seconds,
                  static_cast<double>(m.peakKib) / 1024);
      if (m.counts)
        std::printf("  %6llu %8llu %7llu%s", static_cast<unsigned long long>(m.counts->whole),
                    static_cast<unsigned long long>(m.counts->streamed),
                    static_cast<unsigned long long>(m.counts->flushed), m.countsVaried ? " (runs differ)" : "");
      std::printf("\n");
    };
    auto heading = [](const char* what) {
      std::printf("%-52s %14s  %5s  %-15s  %6s %8s %7s\n", what, "output", "ratio", "memory", "whole", "streamed",
                  "flushed");
    };
    char many[64], manyStream[64];
    std::snprintf(many, sizeof many, "engine, 256 KiB/1 MiB, %zu decoders, whole entries", decoders);
    std::snprintf(manyStream, sizeof manyStream, "engine, 256 KiB/1 MiB, %zu decoders, streaming only", decoders);
    std::printf("%s (median of %d; ratio: to whole-buffer inflate; entries of one run)\n", c.title, runs);
    heading("extraction");
    row("inflate in memory, whole buffers, one thread", f.memory);
    row("bare zlib loop, 4096/8192, to files", f.bare);
    row("engine, 4096/8192, 1 decoder", f.oldWizard);
    row("engine, 256 KiB/1 MiB, 1 decoder, streaming only", f.streamOne);
    row("engine, 256 KiB/1 MiB, 1 decoder, whole entries", f.engineOne);
    row(manyStream, f.streamMany);
    row(many, f.engineMany);
    row("nwq extract (process, default jobs)", f.tool);
    row("the wizard's run (no window, install record kept)", f.wizard);
    std::printf("nwq extract / whole-buffer inflate: %.2f\n", f.memory.seconds / f.tool.seconds);
    std::printf("nwq extract / engine with 1 decoder: %.2f\n", f.engineOne.seconds / f.tool.seconds);
    std::printf("whole entries / streaming only: %.2f with 1 decoder, %.2f with %zu\n",
                f.streamOne.seconds / f.engineOne.seconds, f.streamMany.seconds / f.engineMany.seconds, decoders);
    std::printf("wizard's run / nwq extract: %.2f\n\n", f.tool.seconds / f.wizard.seconds);
    heading("as nwq extract, by destination");
    row("fresh install into an empty folder, memory", f.freshMemory);
    row("update over the same tree, memory", f.updateMemory);
    row("fresh install into an empty folder, disk", f.freshDisk);
    row("update over the same tree, disk", f.updateDisk);
    std::printf("disk / memory: %.2f for a fresh install, %.2f for an update\n\n",
                f.freshDisk.seconds / f.freshMemory.seconds, f.updateDisk.seconds / f.updateMemory.seconds);

    std::printf("%-52s %9s  %5s  %7s %9s %8s\n", "the setup's copy run (record and log kept)", "seconds", "share",
                "decoded", "unchanged", "compared");
    auto copyRow = [](const char* where, const char* what, const Measurement& m, const Measurement& first) {
      char label[64];
      std::snprintf(label, sizeof label, "%s: %s", where, what);
      std::printf("%-52s %9.3f  %4.0f%%", label, m.seconds, 100 * m.seconds / first.seconds);
      if (m.counts)
        std::printf("  %7llu %9llu %8llu%s", static_cast<unsigned long long>(m.counts->whole + m.counts->streamed),
                    static_cast<unsigned long long>(m.counts->unchanged),
                    static_cast<unsigned long long>(m.counts->compared), m.countsVaried ? " (runs differ)" : "");
      std::printf("\n");
    };
    for (const auto& [where, u] : {std::pair<const char*, const CopyFigures&>{"memory", f.copyMemory},
                                   std::pair<const char*, const CopyFigures&>{"disk", f.copyDisk}}) {
      copyRow(where, "first run, into an empty folder", u.first, u.first);
      copyRow(where, "second run over it, nothing changed", u.second, u.first);
      copyRow(where, "/repair over it", u.repair, u.first);
      copyRow(where, "/force over it", u.force, u.first);
      copyRow(where, "run stopped at half (Cancel)", u.cancelled, u.first);
      copyRow(where, "the run after it", u.resumed, u.first);
      copyRow(where, "the run after one ended at half (crash)", u.resumedAfterKill, u.first);
      copyRow(where, "nwq extract into an empty folder", u.tool, u.tool);
      copyRow(where, "nwq extract --update over it", u.toolUpdate, u.tool);
    }
    auto shares = [&](const char* what, Measurement CopyFigures::*part, Measurement CopyFigures::*of,
                      const char* target) {
      std::printf("%s: %.0f %% in memory, %.0f %% on the disk (%s)\n", what,
                  100 * (f.copyMemory.*part).seconds / (f.copyMemory.*of).seconds,
                  100 * (f.copyDisk.*part).seconds / (f.copyDisk.*of).seconds, target);
    };
    shares("second run / first run", &CopyFigures::second, &CopyFigures::first, "target: at most 10 %");
    shares("/repair / first run", &CopyFigures::repair, &CopyFigures::first, "target: at most 50 %");
    shares("run after a stop at half / first run", &CopyFigures::resumed, &CopyFigures::first,
           "target: about the remaining half");
    shares("nwq extract --update / nwq extract", &CopyFigures::toolUpdate, &CopyFigures::tool, "no target");
    std::printf("stopped and resumed together / first run: %.0f %% in memory, %.0f %% on the disk\n\n",
                100 * (f.copyMemory.cancelled.seconds + f.copyMemory.resumed.seconds) / f.copyMemory.first.seconds,
                100 * (f.copyDisk.cancelled.seconds + f.copyDisk.resumed.seconds) / f.copyDisk.first.seconds);
    std::fflush(stdout);
    fs::remove(packagePath);
  }
  fs::remove_all(work);
  fs::remove_all(disk);
  return 0;
}
