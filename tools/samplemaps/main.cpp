// make-sample-maps KIND DIR [MIB [SEED]]: writes generated map-like data.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/samplemaps/sample_maps.h"

int main(int argc, char** argv) {
  sample_maps::Kind kind;
  if (argc < 3 || !sample_maps::ParseKind(argv[1], &kind)) {
    std::fputs("usage: make-sample-maps tiles|elevation|imagery|roads|mixed DIR [MIB [SEED]]\n", stderr);
    return 2;
  }
  const double mib = argc > 3 ? std::atof(argv[3]) : 4.0;
  const auto seed = static_cast<std::uint32_t>(argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 1);
  const auto written = sample_maps::Generate(kind, argv[2], static_cast<std::uint64_t>(mib * 1024 * 1024), seed);
  std::printf("%s: %.1f MiB\n", argv[2], static_cast<double>(written) / (1024 * 1024));
  return 0;
}
