// Generated map-like data for the demo medium and the benchmark: text tiles,
// a smooth 16-bit elevation raster, already-compressed shaded-relief images
// and vector lines in nested folders. Deterministic for a given seed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace sample_maps {

enum class Kind {
  kTiles,      // CSV tiles in zoom/x folders
  kElevation,  // a 16-bit raster with its header
  kImagery,    // PNG images of shaded relief
  kRoads,      // GeoJSON line strings by region
  kMixed,      // all of the above, small and large files
};

// Writes about `bytes` of files of `kind` below `folder`; returns the bytes written.
std::uint64_t Generate(Kind kind, const std::filesystem::path& folder, std::uint64_t bytes, std::uint32_t seed);

bool ParseKind(const std::string& name, Kind* kind);

}  // namespace sample_maps
