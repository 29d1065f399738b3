// Writes the line chart of a made-up series, for the rendering check in a
// browser: series_sample BONDS FRAMES energies|none OUT.svg
#include <fstream>
#include <iostream>
#include <string>

#include "report/series_report.h"
#include "report/series_samples.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: series_sample BONDS FRAMES energies|none OUT.svg\n";
    return 2;
  }
  const mv::Series s = mvtest::sampleSeries(std::stoul(argv[1]), std::stoul(argv[2]),
                                            std::string(argv[3]) == "energies");
  std::ofstream out(argv[4], std::ios::binary);
  mv::writeSeriesSvg(out, s);
  out.close();
  if (!out) {
    std::cerr << "series_sample: cannot write " << argv[4] << "\n";
    return 1;
  }
  return 0;
}
