// extract_bench [--mib N] [--work DIR] [--nwq PATH] [--runs N]
//
// Builds two packages and reports MiB/s of written output and the peak
// resident memory of each way of extracting them, each run in its own
// process, the median of --runs runs:
//  - a map-like package of many files of mixed sizes (text tiles, vectors, a
//    16-bit raster, PNGs and incompressible bytes), where no entry takes more
//    than a small share of the decoding work;
//  - a package whose one large entry takes most of the work, where decoding
//    entries side by side cannot help.
// The in-memory baseline's peak includes the loaded streams and its buffer.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/installation_run.h"
#include "package/decoder_pool.h"
#include "package/engine.h"
#include "package/package_path.h"
#include "package/record_walker.h"
#include "package/trace.h"
#include "package/writer.h"
#include "package/zlib_stream.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "tools/samplemaps/sample_maps.h"

namespace fs = std::filesystem;

namespace {

struct Measurement {
  double seconds = 0;
  long peakKib = 0;
};

// Runs `work` in a forked child `runs` times and keeps the median time and the
// largest peak resident size. The child times only `work`, after its own
// untimed `setup`, and sends the time back through a pipe. The parent stays
// small, so a child's peak is its own work's, not what it inherited.
Measurement Measure(int runs, const std::function<void()>& prepare, const std::function<void()>& setup,
                    const std::function<void()>& work) {
  std::vector<double> times;
  long peakKib = 0;
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
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (write(writeEnd.Get(), &seconds, sizeof seconds) != sizeof seconds) _exit(1);
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    writeEnd.Reset();
    double seconds = 0;
    const bool timed = read(readEnd.Get(), &seconds, sizeof seconds) == sizeof seconds;
    readEnd.Reset();
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!timed || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "a measured run failed\n");
      std::exit(1);
    }
    times.push_back(seconds);
    peakKib = std::max(peakKib, usage.ru_maxrss);
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], peakKib};
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
                   const package::ExtractBuffers& buffers, std::size_t decoders) {
  package::Observer quiet;
  if (package::Extract(packagePath, name, destination, quiet, {buffers, decoders}).outcome !=
      package::Outcome::kExtracted)
    throw 1;
}

// The wizard's whole copy run, without its window.
void WizardRun(const std::wstring& folder, const std::wstring& name, const std::wstring& destination) {
  app::InstallationJob job;
  job.packageFolder = folder;
  job.destinationFolder = destination;
  job.packages = {name};
  job.answer = [](const app::FailureQuestion&) { return app::FileErrorAnswer::kAbort; };
  app::SilentRunView view;
  if (app::RunInstallation(job, view) != app::RunEnd::kFinished) throw 1;
}

// Packs every file below `source` into `packagePath`, sorted by path.
void Pack(const fs::path& source, const std::wstring& packagePath, const std::wstring& name) {
  package::PackageWriter writer(packagePath, *package::PackageHeader::Make(name, L"Benchmark", L""));
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(source))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    const std::wstring sub = package::package_path::StoredFolderOf(f.parent_path().lexically_relative(source));
    writer.AddFile(sub, f.filename().wstring(), f.wstring(), 0, 0);
  }
  writer.Close();
}

// Many files: the sample maps as a medium holds them.
void MakeMapSource(const fs::path& source, double mib) {
  sample_maps::Generate(sample_maps::Kind::kMixed, source, static_cast<std::uint64_t>(mib * 1024 * 1024), 42);
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

struct Figures {
  Measurement memory, bare, oldWizard, engineOne, engineMany, tool, wizard;
};

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
  fs::path nwq = fs::path(argv[0]).parent_path().parent_path() / "tools" / "nwq";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--mib")
      mib = std::atof(argv[i + 1]);
    else if (option == "--work")
      work = argv[i + 1];
    else if (option == "--nwq")
      nwq = argv[i + 1];
    else if (option == "--runs")
      runs = std::max(1, std::atoi(argv[i + 1]));
  }
  package::trace::SetEnabled(false);
  const std::size_t decoders = package::DefaultDecoders();
  fs::remove_all(work);
  fs::create_directories(work);
  const std::wstring folder = work.wstring();
  const package::ExtractBuffers large{256 * 1024, 1024 * 1024};

  struct Case {
    const char* title;
    std::wstring name;
    std::function<void(const fs::path&, double)> make;
  };
  const Case cases[] = {{"many files of mixed sizes", L"Karte", MakeMapSource},
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
    f.oldWizard = Measure(
        runs, clean, [] {}, [&] { ExtractOrFail(packagePath, c.name, destination, {}, 1); });
    f.engineOne = Measure(
        runs, clean, [] {}, [&] { ExtractOrFail(packagePath, c.name, destination, large, 1); });
    f.engineMany = Measure(
        runs, clean, [] {}, [&] { ExtractOrFail(packagePath, c.name, destination, large, decoders); });
    std::string nwqCommand = "'";
    nwqCommand.append(nwq.string()).append("' extract '").append(text::ToUtf8(packagePath));
    nwqCommand.append("' '").append((work / "out").string()).append("' >/dev/null");
    f.tool = Measure(
        runs, clean, [] {},
        [&] {
          if (std::system(nwqCommand.c_str()) != 0) throw 1;
        });
    f.wizard = Measure(
        runs, clean, [] {}, [&] { WizardRun(folder + L"/", c.name, destination); });
    clean();
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
      std::printf("%-50s %8.1f MiB/s  %5.2f  peak %6.1f MiB\n", what, outMib / m.seconds, f.memory.seconds / m.seconds,
                  static_cast<double>(m.peakKib) / 1024);
    };
    std::printf("%s (median of %d; ratio: to whole-buffer inflate)\n", c.title, runs);
    std::printf("%-50s %14s  %5s  %s\n", "extraction", "output", "ratio", "memory");
    row("inflate in memory, whole buffers, one thread", f.memory);
    row("bare zlib loop, 4096/8192, to files", f.bare);
    row("engine, 4096/8192, 1 decoder", f.oldWizard);
    row("engine, 256 KiB/1 MiB, 1 decoder", f.engineOne);
    char many[64];
    std::snprintf(many, sizeof many, "engine, 256 KiB/1 MiB, %zu decoders", decoders);
    row(many, f.engineMany);
    row("nwq extract (process, default jobs)", f.tool);
    row("the wizard's run (no window)", f.wizard);
    std::printf("nwq extract / whole-buffer inflate: %.2f\n", f.memory.seconds / f.tool.seconds);
    std::printf("nwq extract / engine with 1 decoder: %.2f\n", f.engineOne.seconds / f.tool.seconds);
    std::printf("wizard's run / nwq extract: %.2f\n\n", f.tool.seconds / f.wizard.seconds);
    std::fflush(stdout);
    fs::remove(packagePath);
  }
  fs::remove_all(work);
  return 0;
}
