// Writes the drawing of one of the sample molecules to a file, for the
// rendering check in a browser: svg_sample NAME OUT.svg
#include <fstream>
#include <iostream>
#include <string>

#include "report/samples.h"
#include "report/svg.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: svg_sample naphthalene|methylene|fullerene|alkane OUT.svg\n";
    return 2;
  }
  const mv::Drawing d = mvtest::sampleByName(argv[1]);
  if (d.atoms.empty()) {
    std::cerr << "svg_sample: no sample named " << argv[1] << "\n";
    return 2;
  }
  std::ofstream out(argv[2], std::ios::binary);
  mv::writeSvg(out, d);
  out.close();
  if (!out) {
    std::cerr << "svg_sample: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
