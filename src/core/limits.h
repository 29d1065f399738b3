// What one run accepts.
//
// The no-argument run keeps the fixed tables of the classic program: 20
// atoms, 500 basis functions, 500 shells, 2000 primitives, 26 primitives per
// function, shells up to f, and it refuses spin-unrestricted wave functions
// and molecules of one atom.  The command-line mode sizes everything from
// the file and lifts those limits.
#pragma once

namespace mv {

// A limit that does not apply.
inline constexpr int kNoLimit = -1;

struct Limits {
  bool classic = false;      // the classic refusals and the classic layout of the report
  int atoms = kNoLimit;      // atoms the analysis accepts
  int atomsRead = kNoLimit;  // atom-indexed tables of the reader
  int basisFunctions = kNoLimit;
  int shells = kNoLimit;
  int rawPrimitives = kNoLimit;  // primitives as read
  int primitives = kNoLimit;     // primitives after expansion into Cartesian components
  int perFunction = kNoLimit;    // primitives of one basis function
  int functions = kNoLimit;      // declared size of the per-function tables
  int maxL = 6;                  // highest angular momentum of a shell

  // True when value lies beyond the limit.
  static bool beyond(long long value, int limit) { return limit != kNoLimit && value > limit; }

  static Limits classicRun() {
    Limits l;
    l.classic = true;
    l.atoms = 20;
    l.atomsRead = 500;
    l.basisFunctions = 500;
    l.shells = 500;
    l.rawPrimitives = 2000;
    l.primitives = 2000;
    l.perFunction = 26;
    l.functions = 1000;
    l.maxL = 3;
    return l;
  }
  static Limits commandLine() { return Limits(); }
};

}  // namespace mv
