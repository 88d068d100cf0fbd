// extract_bench [--mib N] [--work DIR] [--nwq PATH]
//
// Builds a map-like package (text tiles, vectors, a 16-bit raster, PNGs and
// incompressible bytes) and reports MiB/s of written output and the peak
// resident memory of each way of extracting it, each in its own process.
// The in-memory figure's peak includes the loaded streams and its buffer.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

// Runs `work` in a forked child `runs` times and keeps the best time and the
// largest peak resident size. The child times only `work`, after its own
// untimed `setup`, and sends the time back through a pipe. The parent stays
// small, so a child's peak is its own work's, not what it inherited.
Measurement Measure(int runs, const std::function<void()>& prepare, const std::function<void()>& setup,
                    const std::function<void()>& work) {
  Measurement best{1e30, 0};
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
    best.seconds = std::min(best.seconds, seconds);
    best.peakKib = std::max(best.peakKib, usage.ru_maxrss);
  }
  return best;
}

struct Entry {
  std::wstring folder, name;
  std::vector<unsigned char> stored;
  std::uint64_t decodedSize = 0;
};

// Every entry's stored stream, for the in-memory measurement.
std::vector<Entry> LoadEntries(const std::wstring& path) {
  std::vector<Entry> entries;
  platform::File file;
  file.Open(path, platform::File::Mode::kReadExclusive);
  file.Seek(kPackageHeaderSize, platform::File::Origin::kBegin);
  RecordWalker walker(file, kPackageHeaderSize, file.Length());
  PackageFileRecord record;
  while (walker.Next(&record)) {
    Entry e{record.Folder(), record.Name(), std::vector<unsigned char>(static_cast<std::size_t>(record.FileSize())), 0};
    walker.ReadData(e.stored.data(), e.stored.size());
    entries.push_back(std::move(e));
  }
  return entries;
}

// The wizard's buffer scheme with nothing else: no progress, no path checks,
// no times. The ceiling for 4096/8192-byte buffers.
void BareLoop(const std::wstring& packagePath, const std::wstring& destination) {
  platform::File package;
  package.Open(packagePath, platform::File::Mode::kReadExclusive);
  package.Seek(kPackageHeaderSize, platform::File::Origin::kBegin);
  RecordWalker walker(package, kPackageHeaderSize, package.Length());
  unsigned char in[4096], out[8192];
  PackageFileRecord record;
  while (walker.Next(&record)) {
    const package_path::EntryPaths paths = package_path::Join(destination, record.Folder(), record.Name());
    platform::CreateFolderTree(paths.folder);
    platform::File output;
    output.Open(paths.file, platform::File::Mode::kCreateWriteExclusive);
    const UniqueInflateStream stream(new z_stream{});
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

void InflateInMemory(std::vector<Entry>& entries, std::vector<unsigned char>& output) {
  for (Entry& e : entries) {
    const UniqueInflateStream stream(new z_stream{});
    z_stream& z = *stream.Get();
    inflateInit(&z);
    z.next_in = e.stored.data();
    z.avail_in = static_cast<uInt>(e.stored.size());
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(output.size());
    inflate(&z, Z_FINISH);
    e.decodedSize = z.total_out;
  }
}

void ExtractOrFail(const std::wstring& packagePath, const std::wstring& name, const std::wstring& destination,
                   const ExtractBuffers& buffers) {
  package_engine::Observer quiet;
  if (package_engine::Extract(packagePath, name, destination, quiet, {buffers}).outcome !=
      package_engine::Outcome::kExtracted)
    throw 1;
}

}  // namespace

int main(int argc, char** argv) {
  double mib = 256;
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
  }
  package_trace::SetEnabled(false);
  fs::remove_all(work);
  fs::create_directories(work / "source");
  std::printf("generating %.0f MiB of map-like data in %s ...\n", mib, work.c_str());
  std::fflush(stdout);
  const std::wstring folder = work.wstring();
  const std::wstring name = L"Bench";
  const std::wstring packagePath = BuildPackagePath(folder, name);
  // Generated and packed in a child, so that the parent stays small.
  Measure(
      1, [] {}, [] {},
      [&] {
        sample_maps::Generate(sample_maps::Kind::kMixed, work / "source", static_cast<std::uint64_t>(mib * 1024 * 1024),
                              42);
        PackageWriter writer(packagePath, *PackageHeader::Make(name, L"Benchmark", L""));
        std::vector<fs::path> files;
        for (const auto& e : fs::recursive_directory_iterator(work / "source"))
          if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
          const std::wstring sub = package_path::StoredFolderOf(f.parent_path().lexically_relative(work / "source"));
          writer.AddFile(sub, f.filename().wstring(), f.wstring(), 0, 0);
        }
        writer.Close();
      });
  std::uint64_t sourceBytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(work / "source"))
    if (e.is_regular_file()) sourceBytes += e.file_size();
  const double outMib = static_cast<double>(sourceBytes) / (1024 * 1024);
  std::printf("package: %.1f MiB stored, %.1f MiB of files\n\n",
              static_cast<double>(fs::file_size(packagePath)) / (1024 * 1024), outMib);

  const std::wstring destination = (work / "out").wstring() + L"/";
  auto clean = [&] { fs::remove_all(work / "out"); };
  const int runs = 3;

  const Measurement wizard = Measure(
      runs, clean, [] {}, [&] { ExtractOrFail(packagePath, name, destination, {}); });
  const Measurement bare = Measure(
      runs, clean, [] {}, [&] { BareLoop(packagePath, destination); });
  const Measurement large = Measure(
      runs, clean, [] {},
      [&] {
        ExtractOrFail(packagePath, name, destination, {256 * 1024, 1024 * 1024});
      });
  std::string nwqCommand = "'";
  nwqCommand.append(nwq.string()).append("' extract '").append(text::ToUtf8(packagePath));
  nwqCommand.append("' '").append((work / "out").string()).append("' >/dev/null");
  const Measurement tool = Measure(
      runs, clean, [] {},
      [&] {
        if (std::system(nwqCommand.c_str()) != 0) throw 1;
      });
  std::vector<Entry> entries;
  std::vector<unsigned char> scratch;
  const Measurement memory = Measure(
      runs, [] {},
      [&] {
        entries = LoadEntries(packagePath);
        scratch.resize(64 * 1024 * 1024);
      },
      [&] { InflateInMemory(entries, scratch); });
  clean();

  auto row = [&](const char* what, const Measurement& m, const Measurement* base) {
    std::printf("%-44s %8.1f MiB/s", what, outMib / m.seconds);
    if (base)
      std::printf("  %5.2f of %s", base->seconds / m.seconds, base == &bare ? "bare loop" : "in-memory");
    else
      std::printf("  %16s", "");
    std::printf("  peak %6.1f MiB\n", static_cast<double>(m.peakKib) / 1024);
  };
  std::printf("%-44s %14s  %16s  %s\n", "extraction (best of 3)", "output", "ratio", "memory");
  row("bare zlib loop, 4096/8192, to files", bare, nullptr);
  row("engine as the wizard runs it, 4096/8192", wizard, &bare);
  row("inflate in memory, whole buffers", memory, nullptr);
  row("engine, 256 KiB/1 MiB buffers", large, &memory);
  row("nwq extract (process, 256 KiB/1 MiB)", tool, &memory);
  std::printf("\nwizard vs in-memory inflate: %.2f\n", memory.seconds / wizard.seconds);
  fs::remove_all(work);
  return 0;
}
