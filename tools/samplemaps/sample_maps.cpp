#include "tools/samplemaps/sample_maps.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace sample_maps {
namespace fs = std::filesystem;
namespace {

class Writer {
 public:
  explicit Writer(fs::path root) : root_(std::move(root)) {}
  void Put(const fs::path& relative, const std::string& data) {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    written_ += data.size();
  }
  std::uint64_t written() const { return written_; }

 private:
  fs::path root_;
  std::uint64_t written_ = 0;
};

// A smooth terrain: a few sine ridges, so neighbouring samples differ little.
double Height(double x, double y, std::uint32_t seed) {
  const double s = seed % 97;
  return 400 + 180 * std::sin(x * 0.011 + s) * std::cos(y * 0.007) + 90 * std::sin(x * 0.004 - y * 0.013 + s) +
         60 * std::sin((x + y) * 0.021 + s * 0.5) * std::cos(y * 0.017) + 25 * std::cos(x * 0.05 - y * 0.04) +
         10 * std::sin(x * 0.09 + y * 0.11);
}

std::string ElevationGrid(int width, int height, int originX, int originY, std::uint32_t seed) {
  std::string data(static_cast<std::size_t>(width) * height * 2, '\0');
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto v = static_cast<std::uint16_t>(std::clamp(Height(originX + x, originY + y, seed), 0.0, 65535.0) * 10);
      const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 2;
      data[at] = static_cast<char>(v & 0xFF);
      data[at + 1] = static_cast<char>(v >> 8);
    }
  return data;
}

void AppendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendChunk(std::string& png, const char* type, const std::string& body) {
  AppendBigEndian(png, static_cast<std::uint32_t>(body.size()));
  std::string typed = std::string(type, 4) + body;
  png += typed;
  AppendBigEndian(png, static_cast<std::uint32_t>(
                           crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

// A grey-scale PNG of hill shading, with film-grain noise as aerial imagery has.
std::string ShadedReliefPng(int size, int originX, int originY, std::mt19937& random) {
  std::string raw;
  raw.reserve(static_cast<std::size_t>(size) * (size + 1));
  std::uniform_int_distribution<int> grain(-12, 12);
  for (int y = 0; y < size; ++y) {
    raw += '\0';  // filter type: none
    for (int x = 0; x < size; ++x) {
      const double dx = Height(originX + x + 1, originY + y, 7) - Height(originX + x - 1, originY + y, 7);
      const double dy = Height(originX + x, originY + y + 1, 7) - Height(originX + x, originY + y - 1, 7);
      const double shade = 150 + 14 * (dx - dy) + grain(random);
      raw += static_cast<char>(std::clamp(shade, 0.0, 255.0));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  packed.resize(packedSize);
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  AppendBigEndian(header, static_cast<std::uint32_t>(size));
  AppendBigEndian(header, static_cast<std::uint32_t>(size));
  header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
  AppendChunk(png, "IHDR", header);
  AppendChunk(png, "IDAT", packed);
  AppendChunk(png, "IEND", "");
  return png;
}

std::string TileCsv(int zoom, int tx, int ty, int rows, std::mt19937& random) {
  static const char* kKinds[] = {"Wald", "Wiese", "Siedlung", "Gewaesser", "Acker", "Heide"};
  std::uniform_int_distribution<int> kind(0, 5);
  std::string csv = "id;lon;lat;hoehe;nutzung\n";
  for (int i = 0; i < rows; ++i) {
    const double lon = 7.0 + tx * 0.01 + (i % 50) * 0.0002;
    const double lat = 53.0 + ty * 0.01 + (i / 50) * 0.0002;
    char line[128];
    std::snprintf(line, sizeof line, "%d%05d;%.6f;%.6f;%.1f;%s\n", zoom, i, lon, lat, Height(lon * 1000, lat * 1000, 3),
                  kKinds[kind(random)]);
    csv += line;
  }
  return csv;
}

std::string RoadsGeoJson(int region, int features, std::mt19937& random) {
  std::uniform_real_distribution<double> step(-0.001, 0.001);
  std::string json = "{\"type\":\"FeatureCollection\",\"features\":[\n";
  for (int f = 0; f < features; ++f) {
    double lon = 8.0 + region * 0.1, lat = 52.0 + f * 0.001;
    json +=
        "{\"type\":\"Feature\",\"properties\":{\"name\":\"Landstra\xC3\x9F"
        "e L" +
        std::to_string(100 + f) + "\",\"klasse\":\"" +
        (f % 3 ? "Kreisstra\xC3\x9F"
                 "e"
               : "Bundesstra\xC3\x9F"
                 "e") +
        "\"},\"geometry\":{\"type\":\"LineString\",\"coordinates\":[";
    for (int p = 0; p < 24; ++p) {
      lon += step(random);
      lat += step(random);
      char point[64];
      std::snprintf(point, sizeof point, "%s[%.6f,%.6f]", p ? "," : "", lon, lat);
      json += point;
    }
    json += "]}}";
    json += f + 1 < features ? ",\n" : "\n";
  }
  return json + "]}\n";
}

void GenerateTiles(Writer& out, std::uint64_t budget, std::mt19937& random) {
  for (int n = 0; out.written() < budget; ++n) {
    const int zoom = 10 + n % 3, tx = n / 3 % 8, ty = n / 24;
    out.Put(fs::path("tiles") / std::to_string(zoom) / std::to_string(tx) / (std::to_string(ty) + ".csv"),
            TileCsv(zoom, tx, ty, 400 + n % 7 * 300, random));
  }
}

void GenerateElevation(Writer& out, std::uint64_t budget, std::uint32_t seed) {
  for (int n = 0; out.written() < budget; ++n) {
    const int side = 1024;
    const std::string name = "dgm_" + std::to_string(n);
    out.Put(fs::path("raster") / (name + ".hdr"), "ncols " + std::to_string(side) + "\nnrows " + std::to_string(side) +
                                                      "\ncellsize 25\nbyteorder LSBFIRST\nnbits 16\nscale 0.1\n");
    out.Put(fs::path("raster") / (name + ".dem"), ElevationGrid(side, side, n * side, 0, seed));
  }
}

void GenerateImagery(Writer& out, std::uint64_t budget, std::mt19937& random) {
  for (int n = 0; out.written() < budget; ++n)
    out.Put(fs::path("bilder") / ("sektor_" + std::to_string(n / 4)) / ("kachel_" + std::to_string(n % 4) + ".png"),
            ShadedReliefPng(512, n * 512, n * 97, random));
}

void GenerateRoads(Writer& out, std::uint64_t budget, std::mt19937& random) {
  for (int n = 0; out.written() < budget; ++n)
    out.Put(fs::path("vektor") / ("region_" + std::to_string(n % 5)) / ("strassen_" + std::to_string(n) + ".geojson"),
            RoadsGeoJson(n, 150 + n % 4 * 200, random));
}

void GenerateNoise(Writer& out, std::uint64_t budget, std::mt19937& random) {
  for (int n = 0; out.written() < budget; ++n) {
    std::string data(std::min<std::uint64_t>(budget - out.written() + 1, 8u << 20), '\0');
    for (auto& c : data)
      c = static_cast<char>(random());
    out.Put(fs::path("sonstiges") / ("archiv_" + std::to_string(n) + ".bin"), data);
  }
}

}  // namespace

std::uint64_t Generate(Kind kind, const fs::path& folder, std::uint64_t bytes, std::uint32_t seed) {
  Writer out(folder);
  std::mt19937 random(seed);
  switch (kind) {
    case Kind::kTiles: GenerateTiles(out, bytes, random); break;
    case Kind::kElevation: GenerateElevation(out, bytes, seed); break;
    case Kind::kImagery: GenerateImagery(out, bytes, random); break;
    case Kind::kRoads: GenerateRoads(out, bytes, random); break;
    case Kind::kMixed:
      // Text, raster, images and incompressible bytes in about equal parts.
      GenerateTiles(out, bytes / 4, random);
      GenerateRoads(out, bytes / 4 + bytes / 8, random);
      GenerateElevation(out, bytes / 2 + bytes / 8, seed);
      GenerateImagery(out, bytes * 7 / 8, random);
      GenerateNoise(out, bytes, random);
      break;
  }
  out.Put("info.txt", "Beispieldaten, erzeugt mit Startwert " + std::to_string(seed) + "\r\n");
  return out.written();
}

bool ParseKind(const std::string& name, Kind* kind) {
  const struct {
    const char* name;
    Kind kind;
  } kinds[] = {{"tiles", Kind::kTiles},
               {"elevation", Kind::kElevation},
               {"imagery", Kind::kImagery},
               {"roads", Kind::kRoads},
               {"mixed", Kind::kMixed}};
  for (const auto& k : kinds)
    if (name == k.name) {
      *kind = k.kind;
      return true;
    }
  return false;
}

}  // namespace sample_maps
