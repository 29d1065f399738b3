#include "report/svg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
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
constexpr double kMinDisc = 5.0;
constexpr double kRing = 4.0;  // width of the charge ring
constexpr double kHaloGap = 6.0;
constexpr double kHaloPerValence = 6.0;  // extra halo radius per unit of free valence
constexpr double kMargin = 24.0;
constexpr double kAtomFont = 13.0;
constexpr double kBondFont = 11.0;
constexpr double kValenceFont = 12.0;
constexpr double kTitleFont = 17.0;
constexpr double kMethodFont = 13.0;
constexpr double kLegendFont = 12.0;
constexpr double kLegendRow = 26.0;
constexpr double kMinWidth = 480.0;
constexpr std::string_view kFont = "DejaVu Sans, Liberation Sans, Arial, Helvetica, sans-serif";
constexpr std::uint32_t kBondColour = 0x3C3C3C;
constexpr std::uint32_t kHaloFill = 0xFFC107;
constexpr std::uint32_t kHaloStroke = 0xE65100;
constexpr std::uint32_t kValenceText = 0x9A3A00;
constexpr std::uint32_t kNoChargeColour = 0xBDBDBD;  // charge not a number

// Width of a text of n characters, estimated for a proportional sans-serif
// face (bold a little wider).
double textWidth(std::size_t n, double font, bool bold = false) {
  return static_cast<double>(n) * font * (bold ? 0.66 : 0.6);
}

double bondWidth(double order) {
  return 1.0 + 3.0 * (std::isfinite(order) ? std::clamp(order, 0.0, 4.0) : 0.0);
}

double haloRadius(double disc, double freeValence) {
  return disc + kRing + kHaloGap + kHaloPerValence * std::min(freeValence, 3.0);
}

bool hasHalo(const DrawAtom& a) {
  return std::isfinite(a.freeValence) && a.freeValence > kFreeValenceShown;
}

// End value of the symmetric charge scale: the largest finite |charge|
// rounded up to two decimals, at least 0.05 so that rounding noise stays
// pale.
double chargeScaleEnd(const std::vector<DrawAtom>& atoms) {
  double m = 0.0;
  for (const auto& a : atoms) {
    if (std::isfinite(a.charge)) m = std::max(m, std::fabs(a.charge));
  }
  return std::max(0.05, std::ceil(m * 100.0 - 1e-9) / 100.0);
}

// Depths compared to 1e-6 bohr, so that rounding noise in a planar
// molecule does not decide the painting order.
long long depthKey(double depth) {
  return std::llround(std::clamp(depth, -1e12, 1e12) * 1e6);
}

struct Placed {
  double x, y;            // centre on the page
  double depth;           // bohr, larger is nearer the viewer
  double fog;             // 0 for the nearest atom to 1 for the farthest
  double disc;            // disc radius
  std::string label;      // symbol and number, escaped for XML
  std::size_t labelSize;  // its length in characters as shown
};

// The parts of the SVG document.
class SvgWriter {
 public:
  explicit SvgWriter(const Drawing& d) : d_(d) {}
  std::string build();

 private:
  void place();
  void header();
  void defs();
  void halos();
  void bondsAndAtoms();
  void bond(std::size_t k);
  void atom(std::size_t i);
  void placeLabels();
  void labels();
  void legend();
  void text(double x, double y, std::string_view cls, std::string_view body,
            std::string_view extra = {});
  const Placed& at(int index) const { return placed_[pos_.at(index)]; }

  const Drawing& d_;
  std::map<int, std::size_t> pos_;  // atom number -> position in d_.atoms
  std::vector<Placed> placed_;
  struct Label {
    int kind;  // 0 bond order, 1 atom label
    std::size_t pos;
    double x, y, w, h;  // centre and size
  };
  std::vector<Label> labels_;  // back to front
  double scaleEnd_ = 0.05;
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
  const double sBond =
      lengths.empty() ? kDefaultPxPerBohr
                      : std::clamp(kBondPixels / median(lengths), kMinPxPerBohr, kMaxPxPerBohr);
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

  // Depth cueing, unless the molecule is nearly flat in the picture.
  double nearDepth = 0.0, farDepth = 0.0, size = 0.0;
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    nearDepth = i == 0 ? proj[i].depth : std::max(nearDepth, proj[i].depth);
    farDepth = i == 0 ? proj[i].depth : std::min(farDepth, proj[i].depth);
    size = std::max({size, std::fabs(proj[i].x), std::fabs(proj[i].y), std::fabs(proj[i].depth)});
  }
  const bool cue = nearDepth - farDepth > 0.1 * size;

  placed_.resize(atoms.size());
  double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    const DrawAtom& a = atoms[i];
    Placed& p = placed_[i];
    p.x = s * proj[i].x;
    p.y = -s * proj[i].y;
    p.depth = proj[i].depth;
    p.fog = cue ? (nearDepth - p.depth) / (nearDepth - farDepth) : 0.0;
    p.disc = std::max(kMinDisc, kDiscPerRadius * covalentRadiusBohr(a.atomicNumber) * sBond);
    std::string_view sym = trimmed(a.symbol);
    if (sym.empty()) sym = elementSymbol(a.atomicNumber);
    p.label = xmlText(sym) + std::to_string(a.index);
    p.labelSize = sym.size() + std::to_string(a.index).size();
    // The room the atom takes: its ring or halo, its label, and above it
    // the printed free valence.
    const double ring = p.disc + kRing;
    double left = std::max(ring, textWidth(p.labelSize, kAtomFont, true) / 2.0);
    double up = ring, down = ring;
    if (hasHalo(a)) {
      const double h = haloRadius(p.disc, a.freeValence);
      left = std::max(left, h);
      left = std::max(left, textWidth(8, kValenceFont, true) / 2.0 + 4.0);
      up = h + kValenceFont + 10.0;
      down = h;
    }
    if (i == 0) {
      minX = p.x - left, maxX = p.x + left, minY = p.y - up, maxY = p.y + down;
    }
    minX = std::min(minX, p.x - left);
    maxX = std::max(maxX, p.x + left);
    minY = std::min(minY, p.y - up);
    maxY = std::max(maxY, p.y + down);
  }

  placeLabels();
  for (const Label& l : labels_) {
    minX = std::min(minX, l.x - l.w / 2.0);
    maxX = std::max(maxX, l.x + l.w / 2.0);
    minY = std::min(minY, l.y - l.h / 2.0);
    maxY = std::max(maxY, l.y + l.h / 2.0);
  }

  // The page: the title above, the molecule centred, the legend below.
  const double headerHeight = kMargin + kTitleFont + 8.0 + kMethodFont + 12.0;
  const std::string methodLine = "Method: " + d_.method;
  const double textRoom = std::max(textWidth(trimmed(d_.title).size(), kTitleFont, true),
                                   textWidth(methodLine.size() + 40, kMethodFont));
  const double legendWidth = 40.0 + textWidth(74, kLegendFont);
  const double molWidth = maxX - minX;
  width_ = std::ceil(std::max({kMinWidth, molWidth + 2.0 * kMargin, textRoom + 2.0 * kMargin,
                               legendWidth + 2.0 * kMargin}));
  const double dx = (width_ - molWidth) / 2.0 - minX;
  const double dy = headerHeight + kMargin - minY;
  for (auto& p : placed_) {
    p.x += dx;
    p.y += dy;
  }
  for (auto& l : labels_) {
    l.x += dx;
    l.y += dy;
  }
  legendTop_ = (atoms.empty() ? headerHeight : maxY + dy) + kMargin;
  height_ = std::ceil(legendTop_ + 4.0 * kLegendRow + kMargin);
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
  o_ += "<desc>Bond orders, Mulliken charges and free valences of " +
        std::to_string(d_.atoms.size()) + " atoms</desc>\n";
  o_ += "<rect class=\"background\" width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/>\n";
  o_ += "<g class=\"header\" fill=\"#000000\">\n";
  text(kMargin, kMargin + kTitleFont, "title", title,
       "font-size=\"" + px(kTitleFont) + "\" font-weight=\"bold\"");
  std::string line = "Method: " + (method.empty() ? std::string("(not given)") : method) +
                     " \xC2\xB7 " + std::to_string(d_.atoms.size()) + " atoms \xC2\xB7 " +
                     std::to_string(d_.bonds.size()) + " bonds of order \xE2\x89\xA5 " +
                     fixed2(d_.minBond);
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
    const DrawAtom& a = d_.atoms[i];
    if (!hasHalo(a)) continue;
    const Placed& p = placed_[i];
    o_ += "<circle class=\"free-valence-halo\" data-atom=\"" + std::to_string(a.index) +
          "\" cx=\"" + px(p.x) + "\" cy=\"" + px(p.y) + "\" r=\"" +
          px(haloRadius(p.disc, a.freeValence)) + "\" fill=\"" + hexColour(kHaloFill) +
          "\" fill-opacity=\"0.5\" stroke=\"" + hexColour(kHaloStroke) +
          "\" stroke-width=\"2\" stroke-dasharray=\"5 3\"/>\n";
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

void SvgWriter::atom(std::size_t i) {
  const DrawAtom& a = d_.atoms[i];
  const Placed& p = placed_[i];
  const std::uint32_t ring =
      std::isfinite(a.charge) ? chargeColour(a.charge / scaleEnd_) : kNoChargeColour;
  const bool ghost = a.atomicNumber == 0;
  o_ += "<g class=\"atom\" id=\"atom-" + std::to_string(a.index) + "\" data-charge=\"" +
        fixed2(a.charge) + "\">\n";
  o_ += "<circle class=\"charge-ring\" cx=\"" + px(p.x) + "\" cy=\"" + px(p.y) + "\" r=\"" +
        px(p.disc + kRing) + "\" fill=\"" + hexColour(ring) +
        "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  o_ += "<circle class=\"atom-disc\" cx=\"" + px(p.x) + "\" cy=\"" + px(p.y) + "\" r=\"" +
        px(p.disc) + "\" fill=\"" + hexColour(paler(elementColour(a.atomicNumber), kFog * p.fog)) +
        "\" stroke=\"" + hexColour(paler(0x333333, kFog * p.fog)) + "\" stroke-width=\"0.8\"" +
        (ghost ? " fill-opacity=\"0.6\" stroke-dasharray=\"3 2\"" : "") + "/>\n";
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

// Places the atom labels and bond orders, nearest first: one that would
// overlap a label already placed (or a printed free valence) tries a few
// other places (an atom label below, above, right or left of its disc; a
// bond order a third or a quarter of the way from either end) and keeps its
// first place if none is free.  The list is kept back to front, the order
// of painting, so that a nearer label wins where two still overlap.
void SvgWriter::placeLabels() {
  struct Box {
    double x0, y0, x1, y1;
    bool meets(const Box& o) const {
      return x0 < o.x1 + 1.0 && o.x0 < x1 + 1.0 && y0 < o.y1 + 1.0 && o.y0 < y1 + 1.0;
    }
  };
  std::vector<std::pair<long long, Label>> items;
  for (std::size_t k = 0; k < d_.bonds.size(); ++k) {
    const double w = textWidth(fixed2(d_.bonds[k].order).size(), kBondFont) + 6.0;
    items.push_back({depthKey((at(d_.bonds[k].a).depth + at(d_.bonds[k].b).depth) / 2.0),
                     {0, k, 0.0, 0.0, w, kBondFont + 4.0}});
  }
  for (std::size_t i = 0; i < d_.atoms.size(); ++i) {
    const double w = textWidth(placed_[i].labelSize, kAtomFont, true);
    items.push_back({depthKey(placed_[i].depth), {1, i, 0.0, 0.0, w, kAtomFont}});
  }
  std::sort(items.begin(), items.end(), [](const auto& x, const auto& y) {
    if (x.first != y.first) return x.first < y.first;
    if (x.second.kind != y.second.kind) return x.second.kind < y.second.kind;
    return x.second.pos < y.second.pos;
  });

  std::vector<Box> taken;
  for (std::size_t i = 0; i < d_.atoms.size(); ++i) {
    if (!hasHalo(d_.atoms[i])) continue;
    const Placed& p = placed_[i];
    const double y = p.y - haloRadius(p.disc, d_.atoms[i].freeValence) - 6.0;
    const double w = textWidth(8, kValenceFont, true) + 6.0;
    taken.push_back({p.x - w / 2.0, y - kValenceFont - 1.0, p.x + w / 2.0, y + 3.0});
  }
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    Label& l = it->second;
    std::vector<std::pair<double, double>> places;
    if (l.kind == 0) {
      const Placed& p = at(d_.bonds[l.pos].a);
      const Placed& q = at(d_.bonds[l.pos].b);
      for (const double f : {0.5, 1.0 / 3.0, 2.0 / 3.0, 0.25, 0.75}) {
        places.emplace_back(p.x + f * (q.x - p.x), p.y + f * (q.y - p.y));
      }
    } else {
      const Placed& p = placed_[l.pos];
      const double r = p.disc + kRing + 2.0;
      places = {{p.x, p.y},
                {p.x, p.y + r + l.h / 2.0},
                {p.x, p.y - r - l.h / 2.0},
                {p.x + r + l.w / 2.0, p.y},
                {p.x - r - l.w / 2.0, p.y}};
    }
    std::tie(l.x, l.y) = places.front();
    for (const auto& [x, y] : places) {
      const Box b{x - l.w / 2.0, y - l.h / 2.0, x + l.w / 2.0, y + l.h / 2.0};
      if (std::none_of(taken.begin(), taken.end(), [&](const Box& o) { return b.meets(o); })) {
        std::tie(l.x, l.y) = std::pair{x, y};
        break;
      }
    }
    taken.push_back({l.x - l.w / 2.0, l.y - l.h / 2.0, l.x + l.w / 2.0, l.y + l.h / 2.0});
  }
  labels_.clear();
  for (const auto& it : items) labels_.push_back(it.second);
}

// The printed values on top of the molecule: bond orders on white backings
// and atom labels outlined in white (both paler when far back), back to
// front as placed; then the free valences above their halos.
void SvgWriter::labels() {
  o_ += "<g class=\"labels\" text-anchor=\"middle\">\n";
  for (const Label& it : labels_) {
    if (it.kind == 0) {
      const DrawBond& b = d_.bonds[it.pos];
      const double fog = kFog * (at(b.a).fog + at(b.b).fog) / 2.0;
      const std::string value = fixed2(b.order);
      const double w = it.w, h = it.h;
      o_ += "<rect class=\"bond-label-backing\" x=\"" + px(it.x - w / 2.0) + "\" y=\"" +
            px(it.y - h / 2.0) + "\" width=\"" + px(w) + "\" height=\"" + px(h) +
            "\" rx=\"3\" fill=\"#FFFFFF\" fill-opacity=\"0.9\" stroke=\"" +
            hexColour(paler(kBondColour, fog)) + "\" stroke-width=\"0.6\"/>\n";
      text(it.x, it.y + 0.36 * kBondFont, "bond-label", value,
           "data-atoms=\"" + std::to_string(b.a) + " " + std::to_string(b.b) + "\" font-size=\"" +
               px(kBondFont) + "\" fill=\"" + hexColour(paler(0x1A1A1A, fog)) + "\"");
    } else {
      const Placed& p = placed_[it.pos];
      text(it.x, it.y + 0.36 * kAtomFont, "atom-label", p.label,
           "font-size=\"" + px(kAtomFont) + "\" font-weight=\"bold\" fill=\"" +
               hexColour(paler(0x000000, kFog * p.fog)) +
               "\" stroke=\"#FFFFFF\" stroke-width=\"3\" stroke-linejoin=\"round\" "
               "paint-order=\"stroke\"");
    }
  }
  o_ += "</g>\n";

  o_ += "<g class=\"free-valence-labels\" font-size=\"" + px(kValenceFont) +
        "\" font-weight=\"bold\" text-anchor=\"middle\">\n";
  for (std::size_t i = 0; i < d_.atoms.size(); ++i) {
    const DrawAtom& a = d_.atoms[i];
    if (!hasHalo(a)) continue;
    const Placed& p = placed_[i];
    const std::string value = "fv " + fixed2(a.freeValence);
    const double y = p.y - haloRadius(p.disc, a.freeValence) - 6.0;
    const double w = textWidth(value.size(), kValenceFont, true) + 6.0, h = kValenceFont + 4.0;
    o_ += "<rect class=\"free-valence-label-backing\" x=\"" + px(p.x - w / 2.0) + "\" y=\"" +
          px(y - h + 3.0) + "\" width=\"" + px(w) + "\" height=\"" + px(h) +
          "\" rx=\"3\" fill=\"#FFF8E1\" stroke=\"" + hexColour(kHaloStroke) +
          "\" stroke-width=\"0.8\"/>\n";
    text(p.x, y, "free-valence-label", value,
         "data-atom=\"" + std::to_string(a.index) + "\" fill=\"" + hexColour(kValenceText) + "\"");
  }
  o_ += "</g>\n";
}

void SvgWriter::legend() {
  const double x0 = kMargin, sw = x0 + 14.0, tx = x0 + 40.0;
  double y = legendTop_ + kLegendRow / 2.0;
  const std::string font = std::string(kFont);
  o_ += "<g class=\"legend\" font-family=\"" + font + "\" font-size=\"" + px(kLegendFont) +
        "\" fill=\"#1A1A1A\">\n";
  o_ += "<line class=\"legend-rule\" x1=\"" + px(kMargin) + "\" y1=\"" + px(legendTop_ - 6.0) +
        "\" x2=\"" + px(width_ - kMargin) + "\" y2=\"" + px(legendTop_ - 6.0) +
        "\" stroke=\"#CCCCCC\" stroke-width=\"1\"/>\n";
  const double base = 0.36 * kLegendFont;

  // Disc: element and covalent radius.
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"7\" fill=\"" +
        hexColour(elementColour(6)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  text(tx, y + base, "legend-text",
       "disc: element colour, sized by covalent radius; label: symbol and atom number");

  // Ring: the charge scale with its end values.
  y += kLegendRow;
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"9\" fill=\"" +
        hexColour(chargeColour(-1.0)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"5\" fill=\"" +
        hexColour(elementColour(6)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  const std::string lead = "ring: Mulliken charge";
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

  // Halo: free valence.
  y += kLegendRow;
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"10\" fill=\"" +
        hexColour(kHaloFill) + "\" fill-opacity=\"0.5\" stroke=\"" + hexColour(kHaloStroke) +
        "\" stroke-width=\"1.5\" stroke-dasharray=\"4 2\"/>\n";
  o_ += "<circle cx=\"" + px(sw) + "\" cy=\"" + px(y) + "\" r=\"5\" fill=\"" +
        hexColour(elementColour(6)) + "\" stroke=\"#333333\" stroke-width=\"0.8\"/>\n";
  text(tx, y + base, "legend-text",
       "halo: free valence above " + fixed2(kFreeValenceShown) +
           " (radical centre), value printed as \"fv 1.00\"");

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
  text(x + 4.0, y + base, "legend-text", "line width: bond order, printed on the line");
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
  place();

  o_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  o_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + px(width_) +
        "\" height=\"" + px(height_) + "\" viewBox=\"0 0 " + px(width_) + " " + px(height_) +
        "\" font-family=\"" + std::string(kFont) + "\">\n";
  header();
  defs();
  halos();
  bondsAndAtoms();
  labels();
  legend();
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
