#include "report/svg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/elements.h"
#include "report/svg_tables.h"

namespace mv {
namespace {

// ------------------------------------------------------------ 3-vectors
using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>;

double dot(const Vec3& a, const Vec3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec3 axpy(double s, const Vec3& x, const Vec3& y) {  // s*x + y
  return {s * x[0] + y[0], s * x[1] + y[1], s * x[2] + y[2]};
}
Vec3 unit(const Vec3& a) {
  const double n = std::sqrt(dot(a, a));
  return {a[0] / n, a[1] / n, a[2] / n};
}

// A unit vector orthogonal to the unit vector e: the coordinate axis least
// aligned with e, with its component along e removed.
Vec3 anyOrthogonal(const Vec3& e) {
  int k = 0;
  for (int i = 1; i < 3; ++i) {
    if (std::fabs(e[i]) < std::fabs(e[k])) k = i;
  }
  Vec3 axis{0.0, 0.0, 0.0};
  axis[k] = 1.0;
  return unit(axpy(-dot(axis, e), e, axis));
}

// ------------------------------------------- eigen-decomposition (Jacobi)
struct Eigen3 {
  Vec3 value;                  // descending
  std::array<Vec3, 3> vector;  // unit eigenvectors, in the order of the values
};

// Cyclic Jacobi rotations on the symmetric matrix a until its off-diagonal
// part is negligible against the diagonal (or 64 sweeps have been made).
Eigen3 symmetricEigen(Mat3 a) {
  Mat3 v{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
  constexpr std::array<std::pair<int, int>, 3> kPairs{{{0, 1}, {0, 2}, {1, 2}}};
  for (int sweep = 0; sweep < 64; ++sweep) {
    const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
    const double diag = a[0][0] * a[0][0] + a[1][1] * a[1][1] + a[2][2] * a[2][2];
    if (off == 0.0 || off <= 1e-32 * diag) break;
    for (const auto& [p, q] : kPairs) {
      if (a[p][q] == 0.0) continue;
      // The rotation in the (p, q) plane that zeroes a(p, q):
      // tan of its angle is the smaller root of t^2 + 2 theta t - 1 = 0.
      const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
      const double t =
          std::fabs(theta) > 1e100
              ? 0.5 / theta
              : std::copysign(1.0, theta) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
      const double c = 1.0 / std::sqrt(t * t + 1.0);
      const double s = t * c;
      for (int k = 0; k < 3; ++k) {  // a := a * J
        const double akp = a[k][p], akq = a[k][q];
        a[k][p] = c * akp - s * akq;
        a[k][q] = s * akp + c * akq;
      }
      for (int k = 0; k < 3; ++k) {  // a := J^T * a
        const double apk = a[p][k], aqk = a[q][k];
        a[p][k] = c * apk - s * aqk;
        a[q][k] = s * apk + c * aqk;
      }
      for (int k = 0; k < 3; ++k) {  // v := v * J
        const double vkp = v[k][p], vkq = v[k][q];
        v[k][p] = c * vkp - s * vkq;
        v[k][q] = s * vkp + c * vkq;
      }
    }
  }
  std::array<int, 3> order{0, 1, 2};
  std::stable_sort(order.begin(), order.end(), [&](int i, int j) { return a[i][i] > a[j][j]; });
  Eigen3 e{};
  for (int r = 0; r < 3; ++r) {
    const int i = order[r];
    e.value[r] = a[i][i];
    e.vector[r] = {v[0][i], v[1][i], v[2][i]};
  }
  return e;
}

// --------------------------------------------------- colours and numbers
std::string hexColour(std::uint32_t rgb) {
  char b[8];
  std::snprintf(b, sizeof b, "#%06X", static_cast<unsigned>(rgb & 0xFFFFFFu));
  return b;
}

// The colour rgb taken the fraction f of the way to white (depth cueing).
std::uint32_t paler(std::uint32_t rgb, double f) {
  std::uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const double c = (rgb >> shift) & 0xFF;
    out |= static_cast<std::uint32_t>(std::lround(c + f * (255.0 - c))) << shift;
  }
  return out;
}

std::uint32_t elementColour(int z) {
  return z >= 0 && z <= svgtab::kMaxZ ? svgtab::kColour[z] : svgtab::kUnknownColour;
}

double covalentRadiusBohr(int z) {
  constexpr double kBohrPerAngstrom = 1.0 / 0.529177210903;
  const double r =
      z >= 0 && z <= svgtab::kMaxZ ? svgtab::kCovalentRadius[z] : svgtab::kUnknownRadius;
  return r * kBohrPerAngstrom;
}

// Colour of t in [-1, 1] on the charge scale.
std::uint32_t chargeColour(double t) {
  const double p = (std::clamp(t, -1.0, 1.0) + 1.0) * 2.0;  // 0..4 across the stops
  const int i = std::min(static_cast<int>(p), 3);
  const double f = p - i;
  const std::uint32_t lo = svgtab::kChargeStops[i], hi = svgtab::kChargeStops[i + 1];
  std::uint32_t rgb = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const double a = (lo >> shift) & 0xFF, b = (hi >> shift) & 0xFF;
    rgb |= static_cast<std::uint32_t>(std::lround(a + f * (b - a))) << shift;
  }
  return rgb;
}

// A value printed as printf's "%.2f" (bond orders, charges, free
// valences); a non-finite one as "n/a".
std::string fixed2(double v, bool sign = false) {
  if (!std::isfinite(v)) return "n/a";
  char b[48];
  std::snprintf(b, sizeof b, sign ? "%+.2f" : "%.2f", v);
  // A value that rounds to zero is printed without a sign.
  const std::string_view t = b;
  if (t == "-0.00" || t == "+0.00") return "0.00";
  return b;
}

// A drawing coordinate or length in pixels (always finite here).
std::string px(double v) {
  char b[48];
  std::snprintf(b, sizeof b, "%.2f", v);
  std::string s = b;
  return s == "-0.00" ? "0.00" : s;
}

// ------------------------------------------------------------ XML text
// Text from the checkpoint file made safe for XML character data and
// attribute values: the five markup characters become entities, invalid
// UTF-8 and the control characters that XML 1.0 forbids become U+FFFD, and
// tabs and line ends become blanks (a title is one line).
std::string xmlText(std::string_view s) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&apos;";
          break;
        case '\t':
        case '\n':
        case '\r':
          out += ' ';
          break;
        default:
          if (c < 0x20 || c == 0x7F) {
            out += kReplacement;
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    // A multi-byte sequence: its length from the lead byte, the range of its
    // second byte (no overlong forms, no surrogates, nothing past U+10FFFF).
    std::size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    }
    // U+FFFE and U+FFFF are not XML characters either.
    if (ok && len == 3 && c == 0xEF && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
        static_cast<unsigned char>(s[i + 2]) >= 0xBE) {
      ok = false;
    }
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

// ------------------------------------------------------------- geometry
bool finite3(const double* x) {
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

Vec3 position(const DrawAtom& a) {
  return finite3(a.xyz) ? Vec3{a.xyz[0], a.xyz[1], a.xyz[2]} : Vec3{0.0, 0.0, 0.0};
}

double distance(const DrawAtom& a, const DrawAtom& b) {
  const Vec3 d = axpy(-1.0, position(a), position(b));
  return std::sqrt(dot(d, d));
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// ------------------------------------------------------------ the look
// Sizes in pixels.  The scale is set so that the median bond is drawn
// kBondPixels long whatever the molecule, so that the fixed-size texts keep
// their room; larger molecules make larger pictures.
constexpr double kBondPixels = 96.0;
constexpr double kDefaultPxPerBohr = 40.0;  // no bonds and no distinct atoms
constexpr double kMinPxPerBohr = 2.0;
constexpr double kMaxPxPerBohr = 240.0;
constexpr double kCrowdPixels = 56.0;  // wanted room around most atoms in the picture
constexpr double kMaxCrowdZoom = 1.8;
constexpr double kDiscPerRadius = 0.38;  // disc radius / covalent radius
constexpr double kFog = 0.6;             // how much paler the farthest atoms are drawn
constexpr double kShrink = 0.3;          // how much smaller the farthest discs are drawn
constexpr double kMinDisc = 5.0;
constexpr double kGhostMarker = 5.0;  // radius of a ghost atom's hollow marker
constexpr double kRing = 4.0;         // width of the charge ring
constexpr double kHaloGap = 6.0;
constexpr double kHaloPerValence = 6.0;  // extra halo radius per unit of the value shown
constexpr double kMargin = 24.0;
constexpr double kAtomFont = 13.0;
constexpr double kBondFont = 11.0;
constexpr double kValenceFont = 12.0;
constexpr double kChargeFont = 11.0;
constexpr double kTitleFont = 17.0;
constexpr double kMethodFont = 13.0;
constexpr double kLegendFont = 12.0;
constexpr double kLegendRow = 26.0;
constexpr double kMinWidth = 480.0;
constexpr double kLineClear = 8.0;  // bond line left visible beside a label on it
// Atoms closer than this many median bond lengths (and at least
// kFragmentMinBohr) belong to one fragment; fragments farther apart are
// drawn side by side.
constexpr double kFragmentBonds = 4.0;
constexpr double kFragmentMinBohr = 8.0;
constexpr double kFragmentGap = 72.0;  // pixels between fragments side by side
constexpr std::string_view kFont = "DejaVu Sans, Liberation Sans, Arial, Helvetica, sans-serif";
constexpr std::uint32_t kBondColour = 0x3C3C3C;
constexpr std::uint32_t kHaloFill = 0xFFC107;
constexpr std::uint32_t kHaloStroke = 0xE65100;
constexpr std::uint32_t kValenceText = 0x9A3A00;
constexpr std::uint32_t kNoChargeColour = 0xBDBDBD;  // charge not a number
constexpr std::uint32_t kGhostStroke = 0x616161;
// Outlines of the atoms of fragments 1, 2, ... (then again from the first):
// a qualitative palette of well-separated hues, none of them the grey of
// the usual outline.
constexpr std::uint32_t kFragmentOutline[] = {0x1F77B4, 0xD62728, 0x2CA02C, 0x9467BD,
                                              0xFF7F0E, 0x17BECF, 0xE377C2, 0x8C564B};
constexpr double kFragmentOutlineWidth = 2.5;

// Width of a text of n characters, estimated generously for a proportional
// sans-serif face (digits and capitals are the wide ones; bold wider), and
// the height of its box: what a browser reports as the text's extent.
double textWidth(std::size_t n, double font, bool bold = false) {
  return static_cast<double>(n) * font * (bold ? 0.74 : 0.64);
}
double textHeight(double font) {
  return 1.2 * font;
}

double bondWidth(double order) {
  return 1.0 + 3.0 * (std::isfinite(order) ? std::clamp(order, 0.0, 4.0) : 0.0);
}

double haloRadius(double disc, double value) {
  return disc + kRing + kHaloGap + kHaloPerValence * std::min(value, 3.0);
}

bool isGhost(const DrawAtom& a) {
  return a.ghost || a.atomicNumber == 0;
}

// The value a radical-centre halo shows for the atom, or NaN for none: its
// spin population when the drawing has spin populations, else its free
// valence when the density is open-shell.  The free valence of a
// closed-shell density measures correlation, not unpaired electrons.
double haloValue(const Drawing& d, const DrawAtom& a) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (a.spin.has_value()) {
    return std::isfinite(*a.spin) && *a.spin > kFreeValenceShown ? *a.spin : nan;
  }
  if (!d.openShell) return nan;
  return std::isfinite(a.freeValence) && a.freeValence > kFreeValenceShown ? a.freeValence : nan;
}

bool hasSpin(const Drawing& d) {
  return std::any_of(d.atoms.begin(), d.atoms.end(),
                     [](const DrawAtom& a) { return a.spin.has_value(); });
}

// End value of the symmetric charge scale: the largest finite |charge|
// rounded up to two decimals, at least 0.05 so that rounding noise stays
// pale.
double chargeScaleEnd(const std::vector<DrawAtom>& atoms) {
  double m = 0.0;
  for (const auto& a : atoms) {
    if (std::isfinite(a.charge) && !isGhost(a)) m = std::max(m, std::fabs(a.charge));
  }
  return std::max(0.05, std::ceil(m * 100.0 - 1e-9) / 100.0);
}

// Depths compared to 1e-6 bohr, so that rounding noise in a planar
// molecule does not decide the painting order.
long long depthKey(double depth) {
  return std::llround(std::clamp(depth, -1e12, 1e12) * 1e6);
}

std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// An axis-aligned box on the page.
struct Box {
  double x0, y0, x1, y1;
  bool meets(const Box& o) const {
    return x0 < o.x1 + 1.0 && o.x0 < x1 + 1.0 && y0 < o.y1 + 1.0 && o.y0 < y1 + 1.0;
  }
  bool meetsCircle(double cx, double cy, double r) const {
    const double dx = cx - std::clamp(cx, x0, x1), dy = cy - std::clamp(cy, y0, y1);
    return dx * dx + dy * dy < (r + 1.0) * (r + 1.0);
  }
};

Box boxAt(double x, double y, double w, double h) {
  return {x - w / 2.0, y - h / 2.0, x + w / 2.0, y + h / 2.0};
}

struct Placed {
  double x, y;            // centre on the page
  double depth;           // bohr, larger is nearer the viewer
  double fog;             // 0 for the nearest atom to 1 for the farthest
  double disc;            // disc radius (the marker's for a ghost atom)
  double halo;            // the value its halo shows, NaN for none
  bool ghost;             // nuclear charge 0
  std::string label;      // symbol and number, escaped for XML
  std::size_t labelSize;  // its length in characters as shown
  // The circle the atom covers: its charge ring, or its marker.
  double cover() const { return ghost ? disc : disc + kRing; }
};

// The parts of the SVG document.
class SvgWriter {
 public:
  explicit SvgWriter(const Drawing& d) : d_(d) {}
  std::string build();

 private:
  void place();
  void layOutFragments(std::vector<Placed>& placed, double medianBond);
  void header();
  void defs();
  void halos();
  void bondsAndAtoms();
  void bond(std::size_t k);
  void atom(std::size_t i);
  void placeLabels();
  void labels();
  void legend();
  double legendHeight() const;
  double legendWidth() const;
  std::string haloText() const;
  void text(double x, double y, std::string_view cls, std::string_view body,
            std::string_view extra = {});
  const Placed& at(int index) const { return placed_[pos_.at(index)]; }
  bool bondLabels() const {
    switch (d_.labels) {
      case SvgLabels::None:
        return false;
      case SvgLabels::Bonds:
      case SvgLabels::All:
        return true;
      case SvgLabels::Auto:
        break;
    }
    return static_cast<int>(d_.atoms.size()) <= kBondLabelAtoms;
  }
  bool chargeLabels() const { return d_.labels == SvgLabels::All; }

  const Drawing& d_;
  std::map<int, std::size_t> pos_;  // atom number -> position in d_.atoms
  std::vector<Placed> placed_;
  enum class Kind { Bond, Atom, Halo, Charge };
  struct Label {
    Kind kind;
    std::size_t pos;    // the bond's or the atom's position
    double x, y, w, h;  // centre and size
    bool shown;         // false when no free place was found
  };
  std::vector<Label> labels_;  // back to front
  double scaleEnd_ = 0.05;
  bool spin_ = false;        // halos show spin populations
  bool anyGhost_ = false;    // the legend explains the ghost marker
  int fragments_ = 0;        // the highest fragment of an atom: the legend shows their outlines
  bool depthCue_ = false;    // farther atoms drawn smaller and paler
  bool sideBySide_ = false;  // fragments drawn side by side, not to scale
  double width_ = 0.0, height_ = 0.0, legendTop_ = 0.0;
  std::string o_;
};

void SvgWriter::place() {
  const auto& atoms = d_.atoms;
  const std::vector<Projected> proj = projectAtoms(atoms);

  // Pixels per bohr from the median bond length (nearest-neighbour
  // distances when there are no bonds).
  std::vector<double> lengths;
  for (const auto& b : d_.bonds) {
    const double l = distance(atoms[pos_.at(b.a)], atoms[pos_.at(b.b)]);
    if (l > 1e-6) lengths.push_back(l);
  }
  if (lengths.empty()) {
    for (std::size_t i = 0; i < atoms.size(); ++i) {
      double nearest = 0.0;
      for (std::size_t j = 0; j < atoms.size(); ++j) {
        const double l = distance(atoms[i], atoms[j]);
        if (l > 1e-6 && (nearest == 0.0 || l < nearest)) nearest = l;
      }
      if (nearest > 0.0) lengths.push_back(nearest);
    }
  }
  const double medianBond = lengths.empty() ? 0.0 : median(lengths);
  const double sBond = lengths.empty()
                           ? kDefaultPxPerBohr
                           : std::clamp(kBondPixels / medianBond, kMinPxPerBohr, kMaxPxPerBohr);
  // A crowded picture (a cage, or a molecule seen along a chain) is drawn
  // larger, up to kMaxCrowdZoom, so that four atoms in five have
  // kCrowdPixels to their nearest neighbour in the picture; the discs keep
  // their size.  Atoms that coincide in space are left out.
  std::vector<double> nearest2d;
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    double best = -1.0;
    for (std::size_t j = 0; j < atoms.size(); ++j) {
      if (i == j || distance(atoms[i], atoms[j]) <= 1e-6) continue;
      const double l = std::hypot(proj[i].x - proj[j].x, proj[i].y - proj[j].y);
      if (best < 0.0 || l < best) best = l;
    }
    if (best >= 0.0) nearest2d.push_back(best);
  }
  double s = sBond;
  if (nearest2d.size() >= 3) {
    std::sort(nearest2d.begin(), nearest2d.end());
    const double p20 = nearest2d[nearest2d.size() / 5];
    if (p20 > 0.0) s = std::clamp(kCrowdPixels / p20, sBond, kMaxCrowdZoom * sBond);
  }

  // Depth cueing, unless the molecule is nearly flat in the picture: the
  // farther atoms paler and smaller.
  double nearDepth = 0.0, farDepth = 0.0, size = 0.0;
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    nearDepth = i == 0 ? proj[i].depth : std::max(nearDepth, proj[i].depth);
    farDepth = i == 0 ? proj[i].depth : std::min(farDepth, proj[i].depth);
    size = std::max({size, std::fabs(proj[i].x), std::fabs(proj[i].y), std::fabs(proj[i].depth)});
  }
  const bool cue = nearDepth - farDepth > 0.1 * size;
  depthCue_ = cue;

  placed_.resize(atoms.size());
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    const DrawAtom& a = atoms[i];
    Placed& p = placed_[i];
    p.x = s * proj[i].x;
    p.y = -s * proj[i].y;
    p.depth = proj[i].depth;
    p.fog = cue ? (nearDepth - p.depth) / (nearDepth - farDepth) : 0.0;
    p.ghost = isGhost(a);
    p.disc = p.ghost ? kGhostMarker
                     : std::max(kMinDisc, kDiscPerRadius * covalentRadiusBohr(a.atomicNumber) *
                                              sBond * (1.0 - kShrink * p.fog));
    p.halo = haloValue(d_, a);
    std::string_view sym = trimmed(a.symbol);
    if (p.ghost) {
      sym = elementSymbol(0);
    } else if (sym.empty()) {
      sym = elementSymbol(a.atomicNumber);
    }
    p.label = xmlText(sym) + std::to_string(a.index);
    p.labelSize = sym.size() + std::to_string(a.index).size();
  }
  layOutFragments(placed_, medianBond);

  // The extent of the molecule: every atom with its ring or halo, then
  // every label.
  double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
  for (std::size_t i = 0; i < placed_.size(); ++i) {
    const Placed& p = placed_[i];
    const double r = std::isnan(p.halo) ? p.cover() : haloRadius(p.disc, p.halo);
    if (i == 0) minX = p.x - r, maxX = p.x + r, minY = p.y - r, maxY = p.y + r;
    minX = std::min(minX, p.x - r);
    maxX = std::max(maxX, p.x + r);
    minY = std::min(minY, p.y - r);
    maxY = std::max(maxY, p.y + r);
  }
  placeLabels();
  for (const Label& l : labels_) {
    if (!l.shown) continue;
    minX = std::min(minX, l.x - l.w / 2.0);
    maxX = std::max(maxX, l.x + l.w / 2.0);
    minY = std::min(minY, l.y - l.h / 2.0);
    maxY = std::max(maxY, l.y + l.h / 2.0);
  }

  // The page: the title, then the legend, then the molecule centred below.
  const double headerHeight = kMargin + kTitleFont + 8.0 + kMethodFont + 12.0;
  const std::string methodLine = "Method: " + d_.method;
  const double textRoom = std::max(textWidth(trimmed(d_.title).size(), kTitleFont, true),
                                   textWidth(methodLine.size() + 80, kMethodFont));
  const double molWidth = maxX - minX;
  width_ = std::ceil(std::max({kMinWidth, molWidth + 2.0 * kMargin, textRoom + 2.0 * kMargin,
                               legendWidth() + 2.0 * kMargin}));
  legendTop_ = headerHeight + kMargin / 2.0;
  const double molTop = legendTop_ + legendHeight() + kMargin;
  const double dx = (width_ - molWidth) / 2.0 - minX;
  const double dy = molTop - minY;
  for (auto& p : placed_) {
    p.x += dx;
    p.y += dy;
  }
  for (auto& l : labels_) {
    l.x += dx;
    l.y += dy;
  }
  height_ = std::ceil((atoms.empty() ? molTop : maxY + dy) + kMargin);
}

// Fragments: atoms joined by drawn bonds or closer than kFragmentBonds
// median bond lengths (at least kFragmentMinBohr).  When there are several,
// they are set side by side on a grid of about as many columns as rows, in
// the order of their first atoms, each keeping its own picture; the
// distances between them are then not to scale, and the picture stays
// bounded however far apart they are.
void SvgWriter::layOutFragments(std::vector<Placed>& placed, double medianBond) {
  const auto& atoms = d_.atoms;
  const std::size_t n = atoms.size();
  std::vector<std::size_t> parent(n);
  for (std::size_t i = 0; i < n; ++i) parent[i] = i;
  auto root = [&](std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  auto join = [&](std::size_t i, std::size_t j) {
    const std::size_t a = root(i), b = root(j);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  };
  for (const auto& b : d_.bonds) join(pos_.at(b.a), pos_.at(b.b));
  const double reach = std::max(kFragmentMinBohr, kFragmentBonds * medianBond);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      if (distance(atoms[i], atoms[j]) < reach) join(i, j);

  std::map<std::size_t, std::vector<std::size_t>> groups;  // by first atom
  for (std::size_t i = 0; i < n; ++i) groups[root(i)].push_back(i);
  if (groups.size() < 2) return;
  sideBySide_ = true;

  struct Extent {
    double x0, y0, x1, y1;
  };
  std::vector<std::vector<std::size_t>> frags;
  std::vector<Extent> ext;
  for (auto& [first, members] : groups) {
    Extent e{1e300, 1e300, -1e300, -1e300};
    for (std::size_t i : members) {
      const Placed& p = placed[i];
      // Room for the halo and a label beside the atom.
      const double r = (std::isnan(p.halo) ? p.cover() : haloRadius(p.disc, p.halo)) +
                       textWidth(p.labelSize, kAtomFont, true);
      e = {std::min(e.x0, p.x - r), std::min(e.y0, p.y - r), std::max(e.x1, p.x + r),
           std::max(e.y1, p.y + r)};
    }
    frags.push_back(std::move(members));
    ext.push_back(e);
  }
  const auto count = frags.size();
  const auto cols = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(count))));
  double top = 0.0;
  for (std::size_t row = 0; row * cols < count; ++row) {
    double left = 0.0, rowHeight = 0.0;
    for (std::size_t k = row * cols; k < std::min(count, (row + 1) * cols); ++k)
      rowHeight = std::max(rowHeight, ext[k].y1 - ext[k].y0);
    for (std::size_t k = row * cols; k < std::min(count, (row + 1) * cols); ++k) {
      const double sx = left - ext[k].x0;
      const double sy = top + (rowHeight - (ext[k].y1 - ext[k].y0)) / 2.0 - ext[k].y0;
      for (std::size_t i : frags[k]) {
        placed[i].x += sx;
        placed[i].y += sy;
      }
      left += ext[k].x1 - ext[k].x0 + kFragmentGap;
    }
    top += rowHeight + kFragmentGap;
  }
}

void SvgWriter::text(double x, double y, std::string_view cls, std::string_view body,
                     std::string_view extra) {
  o_ += "<text class=\"";
  o_ += cls;
  o_ += "\" x=\"" + px(x) + "\" y=\"" + px(y) + "\"";
  if (!extra.empty()) {
    o_ += ' ';
    o_ += extra;
  }
  o_ += '>';
  o_ += body;
  o_ += "</text>\n";
}

void SvgWriter::header() {
  const std::string title = xmlText(trimmed(d_.title));
  const std::string method = xmlText(trimmed(d_.method));
  o_ += "<title>" + title + (method.empty() ? "" : " (" + method + ")") + "</title>\n";
  o_ += "<desc>Bond orders, Mulliken charges and radical centres of " +
        counted(d_.atoms.size(), "atom", "atoms") + "</desc>\n";
  o_ += "<rect class=\"background\" width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/>\n";
  o_ += "<g class=\"header\" fill=\"#000000\">\n";
  text(kMargin, kMargin + kTitleFont, "title", title,
       "font-size=\"" + px(kTitleFont) + "\" font-weight=\"bold\"");
  std::string line = "Method: " + (method.empty() ? std::string("(not given)") : method) +
                     " \xC2\xB7 " + counted(d_.atoms.size(), "atom", "atoms") + " \xC2\xB7 " +
                     counted(d_.bonds.size(), "bond", "bonds") + " of order \xE2\x89\xA5 " +
                     fixed2(d_.minBond);
  if (sideBySide_) line += " \xC2\xB7 fragments side by side, not to scale";
  text(kMargin, kMargin + kTitleFont + 8.0 + kMethodFont, "method", line,
       "font-size=\"" + px(kMethodFont) + "\" fill=\"#333333\"");
  o_ += "</g>\n";
}

void SvgWriter::defs() {
  o_ += "<defs>\n<linearGradient id=\"charge-scale\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\">\n";
  for (std::size_t k = 0; k < svgtab::kChargeStops.size(); ++k) {
    o_ += "<stop offset=\"" + px(25.0 * static_cast<double>(k)) + "%\" stop-color=\"" +
          hexColour(svgtab::kChargeStops[k]) + "\"/>\n";
  }
  o_ += "</linearGradient>\n</defs>\n";
}

void SvgWriter::halos() {
  o_ += "<g class=\"halos\">\n";
  for (std::size_t i = 0; i < d_.atoms.size(); ++i) {
    const Placed& p = placed_[i];
    if (std::isnan(p.halo)) continue;
    o_ += "<circle class=\"free-valence-halo\" data-atom=\"" + std::to_string(d_.atoms[i].index) +
          "\" cx=\"" + px(p.x) + "\" cy=\"" + px(p.y) + "\" r=\"" + px(haloRadius(p.disc, p.halo)) +
          "\" fill=\"" + hexColour(kHaloFill) + "\" fill-opacity=\"0.5\" stroke=\"" +
          hexColour(kHaloStroke) + "\" stroke-width=\"2\" stroke-dasharray=\"5 3\"/>\n";
  }
  o_ += "</g>\n";
}

void SvgWriter::bond(std::size_t k) {
  const DrawBond& b = d_.bonds[k];
  const Placed& p = at(b.a);
  const Placed& q = at(b.b);
  o_ += "<line class=\"bond\" data-atoms=\"" + std::to_string(b.a) + " " + std::to_string(b.b) +
        "\" x1=\"" + px(p.x) + "\" y1=\"" + px(p.y) + "\" x2=\"" + px(q.x) + "\" y2=\"" + px(q.y) +
        "\" stroke=\"" + hexColour(paler(kBondColour, kFog * (p.fog + q.fog) / 2.0)) +
        "\" stroke-width=\"" + px(bondWidth(b.order)) + "\"/>\n";
}

// An atom: its disc in a ring of its charge's colour; a ghost atom, which
// has no nucleus, only a small hollow marker.  The group's tooltip names
// the atom also where its label found no free place.
void SvgWriter::atom(std::size_t i) {
  const DrawAtom& a = d_.atoms[i];
  const Placed& p = placed_[i];
  o_ += "<g class=\"atom\" id=\"atom-" + std::to_string(a.index) + "\" data-charge=\"" +
        fixed2(a.charge) + "\"" + (p.ghost ? " data-ghost=\"true\"" : "") +
        (a.fragment > 0 ? " data-fragment=\"" + std::to_string(a.fragment) + "\"" : "") + ">\n";
  o_ += "<title>" + p.label + "</title>\n";
  if (p.ghost) {
    o_ += "<circle class=\"atom-disc\" data-ghost=\"true\" cx=\"" + px(p.x) + "\" cy=\"" + px(p.y) +
          "\" r=\"" + px(p.disc) + "\" fill=\"none\" stroke=\"" +
          hexColour(paler(kGhostStroke, kFog * p.fog)) +
          "\" stroke-width=\"1.5\" stroke-dasharray=\"3 2\"/>\n";
    o_ += "</g>\n";
    return;
  }
  const std::uint32_t ring =
      std::isfinite(a.charge) ? chargeColour(a.charge / scaleEnd_) : kNoChargeColour;
  constexpr std::size_t kPalette = std::size(kFragmentOutline);
  const std::string outline =
      a.fragment > 0
          ? hexColour(kFragmentOutline[static_cast<std::size_t>(a.fragment - 1) % kPalette])
          : std::string("#333333");
  const std::string outlineWidth = a.fragment > 0 ? px(kFragmentOutlineWidth) : "0.8";
  o_ += "<circle class=\"charge-ring\" cx=\"" + px(p.x) + "\" cy=\"" + px(p.y) + "\" r=\"" +
        px(p.disc + kRing) + "\" fill=\"" + hexColour(ring) + "\" stroke=\"" + outline +
        "\" stroke-width=\"" + outlineWidth + "\"/>\n";
  o_ += "<circle class=\"atom-disc\" cx=\"" + px(p.x) + "\" cy=\"" + px(p.y) + "\" r=\"" +
        px(p.disc) + "\" fill=\"" + hexColour(paler(elementColour(a.atomicNumber), kFog * p.fog)) +
        "\" stroke=\"" + hexColour(paler(0x333333, kFog * p.fog)) + "\" stroke-width=\"0.8\"/>\n";
  o_ += "</g>\n";
}

// Bonds and atoms back to front.  A bond is painted just before the farther
// of its two atoms, so that both discs cover its ends; ties of depth go to
// the order given.
void SvgWriter::bondsAndAtoms() {
  struct Item {
    long long key;
    int kind;  // 0 bond, 1 atom
    std::size_t pos;
  };
  std::vector<Item> items;
  for (std::size_t k = 0; k < d_.bonds.size(); ++k) {
    items.push_back({depthKey(std::min(at(d_.bonds[k].a).depth, at(d_.bonds[k].b).depth)), 0, k});
  }
  for (std::size_t i = 0; i < d_.atoms.size(); ++i)
    items.push_back({depthKey(placed_[i].depth), 1, i});
  std::sort(items.begin(), items.end(), [](const Item& x, const Item& y) {
    if (x.key != y.key) return x.key < y.key;
    if (x.kind != y.kind) return x.kind < y.kind;
    return x.pos < y.pos;
  });
  o_ += "<g class=\"molecule\" stroke-linecap=\"round\">\n";
  for (const Item& it : items) {
    if (it.kind == 0) {
      bond(it.pos);
    } else {
      atom(it.pos);
    }
  }
  o_ += "</g>\n";
}

// A simple collision pass.  The printed values of the halos are placed
// first, then the atom labels, then the charges and the bond orders, each
// group nearest atom first; each takes the first of its candidate places
// whose box meets no disc (an atom label may lie on its own disc) and no
// label already placed.  An atom label tries its disc, then places around
// it farther and farther out; a bond order tries places on its line where
// enough of the line stays visible on both sides, then places beside the
// line.  A label with no free place is left out (the atom's tooltip still
// names it).  The list is kept back to front, the order of painting.
void SvgWriter::placeLabels() {
  std::vector<std::pair<long long, Label>> items;
  for (std::size_t i = 0; i < d_.atoms.size(); ++i) {
    const Placed& p = placed_[i];
    if (!std::isnan(p.halo)) {
      items.push_back({depthKey(p.depth),
                       {Kind::Halo, i, 0.0, 0.0, textWidth(9, kValenceFont, true) + 6.0,
                        textHeight(kValenceFont) + 2.0, false}});
    }
    items.push_back({depthKey(p.depth),
                     {Kind::Atom, i, 0.0, 0.0, textWidth(p.labelSize, kAtomFont, true),
                      textHeight(kAtomFont), false}});
    if (chargeLabels() && !p.ghost) {
      items.push_back({depthKey(p.depth),
                       {Kind::Charge, i, 0.0, 0.0,
                        textWidth(fixed2(d_.atoms[i].charge, true).size(), kChargeFont),
                        textHeight(kChargeFont), false}});
    }
  }
  if (bondLabels()) {
    for (std::size_t k = 0; k < d_.bonds.size(); ++k) {
      const double w = textWidth(fixed2(d_.bonds[k].order).size(), kBondFont) + 6.0;
      items.push_back({depthKey((at(d_.bonds[k].a).depth + at(d_.bonds[k].b).depth) / 2.0),
                       {Kind::Bond, k, 0.0, 0.0, w, textHeight(kBondFont) + 2.0, false}});
    }
  }
  // Painting order: back to front, within a depth bonds, atoms, charges,
  // halos.  Placing order: halos, atoms, charges, bonds, each front first.
  auto rank = [](Kind k) {
    return k == Kind::Bond ? 0 : k == Kind::Atom ? 1 : k == Kind::Charge ? 2 : 3;
  };
  std::stable_sort(items.begin(), items.end(), [&](const auto& x, const auto& y) {
    if (x.first != y.first) return x.first < y.first;
    return rank(x.second.kind) < rank(y.second.kind);
  });
  std::vector<std::size_t> order(items.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = items.size() - 1 - k;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return rank(items[x].second.kind) > rank(items[y].second.kind);
  });

  std::vector<Box> taken;
  auto isFree = [&](const Box& b, std::size_t ownAtom) {
    for (std::size_t i = 0; i < placed_.size(); ++i) {
      if (i == ownAtom) continue;
      if (b.meetsCircle(placed_[i].x, placed_[i].y, placed_[i].cover())) return false;
    }
    return std::none_of(taken.begin(), taken.end(), [&](const Box& o) { return b.meets(o); });
  };
  constexpr std::size_t kNoAtom = static_cast<std::size_t>(-1);
  constexpr int kDirections = 16;
  const double pi = std::acos(-1.0);
  for (const std::size_t k : order) {
    Label& l = items[k].second;
    std::vector<std::pair<double, double>> places;
    std::size_t own = kNoAtom;
    if (l.kind == Kind::Bond) {
      const Placed& p = at(d_.bonds[l.pos].a);
      const Placed& q = at(d_.bonds[l.pos].b);
      const double len = std::hypot(q.x - p.x, q.y - p.y);
      const double ux = len > 0.0 ? (q.x - p.x) / len : 1.0,
                   uy = len > 0.0 ? (q.y - p.y) / len : 0.0;
      const double along = std::fabs(ux) * l.w + std::fabs(uy) * l.h;
      const double across = std::fabs(uy) * l.w + std::fabs(ux) * l.h;
      const double visible = len - p.cover() - q.cover();
      if (visible >= along + 2.0 * kLineClear) {
        for (const double f : {0.5, 0.4, 0.6, 1.0 / 3.0, 2.0 / 3.0})
          places.emplace_back(p.x + f * (q.x - p.x), p.y + f * (q.y - p.y));
      }
      const double off = across / 2.0 + bondWidth(d_.bonds[l.pos].order) / 2.0 + 3.0;
      for (const double extra : {0.0, 8.0, 18.0, 30.0})
        for (const double f : {0.5, 0.35, 0.65, 0.2, 0.8})
          for (const double side : {1.0, -1.0})
            places.emplace_back(p.x + f * (q.x - p.x) - side * uy * (off + extra),
                                p.y + f * (q.y - p.y) + side * ux * (off + extra));
    } else {
      const Placed& p = placed_[l.pos];
      own = l.kind == Kind::Atom ? l.pos : kNoAtom;
      const double r = std::isnan(p.halo) || l.kind != Kind::Halo
                           ? p.cover() + 2.0
                           : haloRadius(p.disc, p.halo) + 2.0;
      // An atom label on its disc first; a ghost's marker stays visible.
      if (l.kind == Kind::Atom && !p.ghost) places.emplace_back(p.x, p.y);
      // Around the atom, starting straight above for a halo's value and
      // straight below otherwise, at three distances.
      const double start = l.kind == Kind::Halo ? -pi / 2.0 : pi / 2.0;
      for (const double extra : {0.0, 10.0, 22.0}) {
        for (int j = 0; j < kDirections; ++j) {
          const int step = (j + 1) / 2 * (j % 2 ? 1 : -1);  // 0, 1, -1, 2, -2, ...
          const double t = start + 2.0 * pi * step / kDirections;
          const double cx = std::cos(t), cy = std::sin(t);
          // Far enough along (cx, cy) for the box to clear the circle r.
          const double reach = r + extra +
                               std::min(l.w / 2.0 / std::max(std::fabs(cx), 1e-9),
                                        l.h / 2.0 / std::max(std::fabs(cy), 1e-9));
          places.emplace_back(p.x + reach * cx, p.y + reach * cy);
        }
      }
    }
    for (const auto& [x, y] : places) {
      const Box b = boxAt(x, y, l.w, l.h);
      if (isFree(b, own)) {
        l.x = x, l.y = y, l.shown = true;
        taken.push_back(b);
        break;
      }
    }
  }
  labels_.clear();
  for (const auto& it : items) labels_.push_back(it.second);
}

std::string SvgWriter::haloText() const {
  return spin_ ? "spin " : "fv ";
}

// The printed values on top of the molecule, back to front as placed:
// bond orders on white backings, atom labels and charges outlined in white
// (all paler when far back), and the values of the halos.
void SvgWriter::labels() {
  o_ += "<g class=\"labels\" text-anchor=\"middle\">\n";
  for (const Label& it : labels_) {
    if (!it.shown) continue;
    if (it.kind == Kind::Bond) {
      const DrawBond& b = d_.bonds[it.pos];
      const double fog = kFog * (at(b.a).fog + at(b.b).fog) / 2.0;
      const std::string value = fixed2(b.order);
      const double w = it.w, h = it.h;
      o_ += "<rect class=\"bond-label-backing\" data-atoms=\"" + std::to_string(b.a) + " " +
            std::to_string(b.b) + "\" x=\"" + px(it.x - w / 2.0) + "\" y=\"" + px(it.y - h / 2.0) +
            "\" width=\"" + px(w) + "\" height=\"" + px(h) +
            "\" rx=\"3\" fill=\"#FFFFFF\" fill-opacity=\"0.9\" stroke=\"" +
            hexColour(paler(kBondColour, fog)) + "\" stroke-width=\"0.6\"/>\n";
      text(it.x, it.y + 0.36 * kBondFont, "bond-label", value,
           "data-atoms=\"" + std::to_string(b.a) + " " + std::to_string(b.b) + "\" font-size=\"" +
               px(kBondFont) + "\" fill=\"" + hexColour(paler(0x1A1A1A, fog)) + "\"");
    } else if (it.kind == Kind::Atom || it.kind == Kind::Charge) {
      const Placed& p = placed_[it.pos];
      const bool atomLabel = it.kind == Kind::Atom;
      const double font = atomLabel ? kAtomFont : kChargeFont;
      const std::string index = std::to_string(d_.atoms[it.pos].index);
      text(it.x, it.y + 0.36 * font, atomLabel ? "atom-label" : "charge-label",
           atomLabel ? p.label : fixed2(d_.atoms[it.pos].charge, true),
           "data-atom=\"" + index + "\" font-size=\"" + px(font) + "\"" +
               (atomLabel ? " font-weight=\"bold\"" : "") + " fill=\"" +
               hexColour(paler(atomLabel ? 0x000000 : 0x333333, kFog * p.fog)) +
               "\" stroke=\"#FFFFFF\" stroke-width=\"3\" stroke-linejoin=\"round\" "
               "paint-order=\"stroke\"");
    } else {
      const Placed& p = placed_[it.pos];
      const std::string value = haloText() + fixed2(p.halo);
      const double w = it.w, h = it.h;
      o_ += "<rect class=\"free-valence-label-backing\" data-atom=\"" +
            std::to_string(d_.atoms[it.pos].index) + "\" x=\"" + px(it.x - w / 2.0) + "\" y=\"" +
            px(it.y - h / 2.0) + "\" width=\"" + px(w) + "\" height=\"" + px(h) +
            "\" rx=\"3\" fill=\"#FFF8E1\" stroke=\"" + hexColour(kHaloStroke) +
            "\" stroke-width=\"0.8\"/>\n";
      text(it.x, it.y + 0.36 * kValenceFont, "free-valence-label", value,
           "data-atom=\"" + std::to_string(d_.atoms[it.pos].index) + "\" font-size=\"" +
               px(kValenceFont) + "\" font-weight=\"bold\" fill=\"" + hexColour(kValenceText) +
               "\"");
    }
  }
  o_ += "</g>\n";
}

namespace legendtext {
constexpr std::string_view kDisc =
    "disc: element colour, sized by covalent radius; label: symbol and number";
constexpr std::string_view kDiscDepth =
    "disc: element colour, sized by covalent radius, smaller and paler farther back; "
    "label: symbol and number";
constexpr std::string_view kRing = "ring: Mulliken charge";
constexpr std::string_view kGhost = "Bq: ghost atom (basis functions without a nucleus)";
constexpr std::string_view kWidth = "line width: bond order";
}  // namespace legendtext

// The outlines the legend shows: the fragments' colours, each once.
int shownOutlines(int fragments) {
  return std::min(fragments, static_cast<int>(std::size(kFragmentOutline)));
}

// What the outline row of the legend says.
std::string legendOutline(int fragments) {
  std::string t = "outline: fragment ";
  for (int f = 1; f <= shownOutlines(fragments); ++f) {
    if (f > 1) t += ", ";
    t += std::to_string(f);
  }
  if (fragments > shownOutlines(fragments)) t += ", ... (the colours repeat)";
  return t;
}

double SvgWriter::legendHeight() const {
  return (4.0 + (anyGhost_ ? 1.0 : 0.0) + (fragments_ > 0 ? 1.0 : 0.0)) * kLegendRow;
}

// What the halo row of the legend says.
std::string legendHalo(bool spin, bool openShell) {
  if (spin)
    return "halo: radical centre, spin population above " + fixed2(kFreeValenceShown) +
           " (printed \"spin 0.50\")";
  if (openShell)
    return "halo: radical centre, free valence above " + fixed2(kFreeValenceShown) +
           " (printed \"fv 1.00\")";
  return "no halo: a closed-shell density has no radical centre";
}

double SvgWriter::legendWidth() const {
  const double tx = 40.0;
  double w = tx + textWidth(legendtext::kDiscDepth.size(), kLegendFont);
  w = std::max(w, tx + textWidth(legendHalo(spin_, d_.openShell).size(), kLegendFont));
  w = std::max(w, tx + textWidth(legendtext::kRing.size() + 12, kLegendFont) + 14.0 + 6.0 + 160.0 +
                      6.0 + textWidth(6, kLegendFont));
  if (anyGhost_) w = std::max(w, tx + textWidth(legendtext::kGhost.size(), kLegendFont));
  if (fragments_ > 0)
    w = std::max(w, kMargin + 20.0 * shownOutlines(fragments_) + 16.0 +
                        textWidth(legendOutline(fragments_).size(), kLegendFont));
  w = std::max(w, 3.0 * 54.0 + 4.0 + textWidth(legendtext::kWidth.size(), kLegendFont) +
                      (bondLabels() ? textWidth(22, kLegendFont) : 0.0));
  return w;
}

void SvgWriter::legend() {
  const double x0 = kMargin, sw = x0 + 14.0, tx = x0 + 40.0;
  double y = legendTop_ + kLegendRow / 2.0;
  const std::string font = std::string(kFont);
  o_ += "<g class=\"legend\" font-family=\"" + font + "\" font-size=\"" + px(kLegendFont) +
        "\" fill=\"#1A1A1A\">\n";
  const double rule = legendTop_ + legendHeight() + kMargin / 2.0 - 6.0;
  o_ += "<line class=\"legend-rule\" x1=\"" + px(kMargin) + "\" y1=\"" + px(rule) + "\" x2=\"" +
        px(width_ - kMargin) + "\" y2=\"" + px(rule) +
        "\" stroke=\"#CCCCCC\" stroke-width=\"1\"/>\n";
  const double base = 0.36 * kLegendFont;

  // Disc: element and covalent radius.
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"7\" fill=\"" +
        hexColour(elementColour(6)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  text(tx, y + base, "legend-text", depthCue_ ? legendtext::kDiscDepth : legendtext::kDisc);

  // Ring: the charge scale with its end values.
  y += kLegendRow;
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"9\" fill=\"" +
        hexColour(chargeColour(-1.0)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"5\" fill=\"" +
        hexColour(elementColour(6)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  const std::string lead = std::string(legendtext::kRing);
  text(tx, y + base, "legend-text", lead);
  const std::string lo = fixed2(-scaleEnd_), hi = fixed2(scaleEnd_, true);
  const double barX =
      tx + textWidth(lead.size(), kLegendFont) + 14.0 + textWidth(lo.size(), kLegendFont) + 6.0;
  const double barW = 160.0;
  text(barX - 6.0, y + base, "legend-charge-min", lo, "text-anchor=\"end\"");
  o_ += "<rect class=\"legend-charge-scale\" x=\"" + px(barX) + "\" y=\"" + px(y - 6.0) +
        "\" width=\"" + px(barW) +
        "\" height=\"12\" fill=\"url(#charge-scale)\" "
        "stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  o_ += "<line x1=\"" + px(barX + barW / 2.0) + "\" y1=\"" + px(y - 8.0) + "\" x2=\"" +
        px(barX + barW / 2.0) + "\" y2=\"" + px(y + 8.0) +
        "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  text(barX + barW + 6.0, y + base, "legend-charge-max", hi);

  // Halo: what marks a radical centre, or why there is none.
  y += kLegendRow;
  if (spin_ || d_.openShell) {
    o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"10\" fill=\"" +
          hexColour(kHaloFill) + "\" fill-opacity=\"0.5\" stroke=\"" + hexColour(kHaloStroke) +
          "\" stroke-width=\"1.5\" stroke-dasharray=\"4 2\"/>\n";
  }
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"5\" fill=\"" +
        hexColour(elementColour(6)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  text(tx, y + base, "legend-halo", legendHalo(spin_, d_.openShell));

  // Ghost atoms, when there are some.
  if (anyGhost_) {
    y += kLegendRow;
    o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"" + px(kGhostMarker) +
          "\" fill=\"none\" stroke=\"" + hexColour(kGhostStroke) +
          "\" stroke-width=\"1.5\" stroke-dasharray=\"3 2\"/>\n";
    text(tx, y + base, "legend-ghost", legendtext::kGhost);
  }

  // Fragments, when they were asked for: one outline of each colour.
  if (fragments_ > 0) {
    y += kLegendRow;
    const int shown = shownOutlines(fragments_);
    for (int f = 0; f < shown; ++f)
      o_ += "<circle cx=\"" + px(sw + 20.0 * f) + "\" cy=\"" + px(y) + "\" r=\"7\" fill=\"" +
            hexColour(elementColour(6)) + "\" stroke=\"" +
            hexColour(kFragmentOutline[static_cast<std::size_t>(f)]) + "\" stroke-width=\"" +
            px(kFragmentOutlineWidth) + "\"/>\n";
    text(sw + 20.0 * (shown - 1) + 16.0, y + base, "legend-fragments", legendOutline(fragments_));
  }

  // Line width: bond order, with three samples.
  y += kLegendRow;
  double x = x0;
  for (const double order : {0.5, 1.0, 2.0}) {
    o_ += "<line x1=\"" + px(x) + "\" y1=\"" + px(y) + "\" x2=\"" + px(x + 22.0) + "\" y2=\"" +
          px(y) + "\" stroke=\"" + hexColour(kBondColour) + "\" stroke-width=\"" +
          px(bondWidth(order)) + "\" stroke-linecap=\"round\"/>\n";
    text(x + 26.0, y + base, "legend-text", fixed2(order).substr(0, 3));
    x += 54.0;
  }
  text(x + 4.0, y + base, "legend-text",
       std::string(legendtext::kWidth) + (bondLabels() ? ", printed on the line" : ""));
  o_ += "</g>\n";
}

std::string SvgWriter::build() {
  for (std::size_t i = 0; i < d_.atoms.size(); ++i) {
    if (!pos_.emplace(d_.atoms[i].index, i).second) {
      throw std::invalid_argument("svg: two atoms numbered " + std::to_string(d_.atoms[i].index));
    }
  }
  for (const auto& b : d_.bonds) {
    if (!pos_.contains(b.a) || !pos_.contains(b.b) || b.a == b.b) {
      throw std::invalid_argument("svg: bond " + std::to_string(b.a) + "-" + std::to_string(b.b) +
                                  " does not join two atoms of the drawing");
    }
  }
  scaleEnd_ = chargeScaleEnd(d_.atoms);
  spin_ = hasSpin(d_);
  anyGhost_ = std::any_of(d_.atoms.begin(), d_.atoms.end(), isGhost);
  for (const DrawAtom& a : d_.atoms) fragments_ = std::max(fragments_, a.fragment);
  place();

  o_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  o_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + px(width_) +
        "\" height=\"" + px(height_) + "\" viewBox=\"0 0 " + px(width_) + " " + px(height_) +
        "\" font-family=\"" + std::string(kFont) + "\">\n";
  header();
  defs();
  legend();
  halos();
  bondsAndAtoms();
  labels();
  o_ += "</svg>\n";
  return std::move(o_);
}

// Of the view along f3 and 240 directions spread evenly (a golden-angle
// spiral) over the half sphere around f3, in the frame f1, f2, f3: the first
// whose picture has the largest smallest distance between two atoms, ties
// within 1e-6 of the molecule's size going to the earlier direction.  Pairs
// of atoms closer than eps in space are left out: no view separates them.
Vec3 bestView(const std::vector<Vec3>& r, const Vec3& f1, const Vec3& f2, const Vec3& f3,
              double eps) {
  constexpr int kViews = 240;
  const double goldenAngle = std::acos(-1.0) * (3.0 - std::sqrt(5.0));
  Vec3 best = f3;
  double bestScore = -1.0;
  for (int k = -1; k < kViews; ++k) {
    Vec3 view = f3;
    if (k >= 0) {
      const double c = 1.0 - (k + 0.5) / kViews;
      const double s = std::sqrt(1.0 - c * c);
      const double phi = goldenAngle * k;
      view = axpy(s * std::cos(phi), f1, axpy(s * std::sin(phi), f2, axpy(c, f3, {0, 0, 0})));
    }
    double nearest = -1.0;
    for (std::size_t i = 0; i < r.size(); ++i) {
      for (std::size_t j = i + 1; j < r.size(); ++j) {
        const Vec3 d = axpy(-1.0, r[i], r[j]);
        const double d2 = dot(d, d);
        if (d2 <= eps * eps) continue;
        const double along = dot(d, view);
        const double across = std::max(0.0, d2 - along * along);
        if (nearest < 0.0 || across < nearest) nearest = across;
      }
    }
    const double score = std::sqrt(std::max(0.0, nearest));
    if (score > bestScore + 1e-2 * eps) {  // eps is 1e-4 of the size
      bestScore = score;
      best = unit(view);
    }
  }
  return best;
}

}  // namespace

std::vector<Projected> projectAtoms(const std::vector<DrawAtom>& atoms) {
  const std::size_t n = atoms.size();
  if (n == 0) return {};
  std::vector<Vec3> r(n);
  Vec3 centre{0.0, 0.0, 0.0};
  for (std::size_t i = 0; i < n; ++i) {
    r[i] = position(atoms[i]);
    centre = axpy(1.0 / static_cast<double>(n), r[i], centre);
  }
  Mat3 m{};
  for (auto& x : r) {
    x = axpy(-1.0, centre, x);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) m[i][j] += x[i] * x[j] / static_cast<double>(n);
    }
  }
  const Eigen3 e = symmetricEigen(m);
  const double rms = std::sqrt(std::max(0.0, m[0][0] + m[1][1] + m[2][2]));
  const double eps = 1e-4 * rms;
  const double tol = 1e-3 * e.value[0];
  const bool deg12 = e.value[0] - e.value[1] <= tol;
  const bool deg23 = e.value[1] - e.value[2] <= tol;

  // The unit component, within the space of the orthonormal basis, of the
  // first atom whose component there is longer than eps; the fallback when
  // there is none.
  auto firstAtom = [&](const std::vector<Vec3>& basis, const Vec3& fallback) {
    for (const Vec3& x : r) {
      Vec3 c{0.0, 0.0, 0.0};
      for (const Vec3& b : basis) c = axpy(dot(x, b), b, c);
      if (std::sqrt(dot(c, c)) > eps) return unit(c);
    }
    return fallback;
  };

  const auto& v = e.vector;
  std::vector<Vec3> space1{v[0]};
  if (deg12) space1.push_back(v[1]);
  if (deg12 && deg23) space1.push_back(v[2]);
  // x points away from the first atom, so that the numbering starts on
  // the left; y towards the first atom off the x axis (upwards).
  Vec3 e1 = axpy(-1.0, firstAtom(space1, v[0]), {0.0, 0.0, 0.0});

  std::vector<Vec3> space2;
  if (!deg12) {
    space2.push_back(v[1]);
    if (deg23) space2.push_back(v[2]);
  } else if (!deg23) {
    space2.push_back(cross(v[2], e1));  // the rest of the plane of v1, v2
  } else {
    const Vec3 u = anyOrthogonal(e1);
    space2 = {u, cross(e1, u)};
  }
  Vec3 e2 = firstAtom(space2, space2.front());
  Vec3 e3 = cross(e1, e2);

  // A spherical top (all three moments equal, as in methane or C60) has no
  // principal plane: every direction is a principal axis.  The frame found
  // so far is fixed by the atoms but may look along a symmetry axis that
  // hides atoms exactly behind others.  Of a fixed set of directions around
  // that frame, take the first one that looks past the atoms best (largest
  // smallest distance between two atoms in the picture) as the view, and
  // fix x and y in the picture by the atoms as before.
  if (deg12 && deg23 && n > 2 && rms > 0.0) {
    const Vec3 view = bestView(r, e1, e2, e3, eps);
    const Vec3 u = anyOrthogonal(view);
    e1 = axpy(-1.0, firstAtom({u, cross(view, u)}, u), {0.0, 0.0, 0.0});
    const Vec3 w = cross(view, e1);
    e2 = firstAtom({w}, w);
    e3 = cross(e1, e2);
  }

  std::vector<Projected> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = {dot(r[i], e1), dot(r[i], e2), dot(r[i], e3)};
  return out;
}

void writeSvg(std::ostream& out, const Drawing& d) {
  SvgWriter w(d);
  out << w.build();
}

}  // namespace mv
