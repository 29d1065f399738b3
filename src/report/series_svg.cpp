// The line chart of a series: bond orders frame by frame, and the energy
// relative to the first frame that has one.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "report/series_report.h"

namespace mv {
namespace {

constexpr double kMargin = 16.0;
constexpr double kTitleFont = 16.0;
constexpr double kSubtitleFont = 12.0;
constexpr double kTickFont = 11.0;
constexpr double kLegendFont = 12.0;
constexpr double kAxisRoom = 64.0;      // left of a panel: tick labels and the axis title
constexpr double kBelowPanel = 44.0;    // under a panel: tick labels and the axis title
constexpr double kPanelGap = 20.0;      // between the two panels
constexpr double kLegendGap = 28.0;     // between the plot and the legend
constexpr double kLegendRow = 18.0;     // one legend entry
constexpr double kLegendSample = 28.0;  // the line drawn before a pair's name
constexpr double kCharWidth = 0.62;     // a character of the legend, in font sizes (an upper bound)
constexpr double kHartreeInKcal = 627.5094740631;

// Eight colours told apart also by most colour-blind readers, then the
// same colours dashed: a bond is colour b mod 8, dash (b / 8) mod 4.
constexpr std::array<std::uint32_t, 8> kColours = {0x1F77B4, 0xD62728, 0x2CA02C, 0xFF7F0E,
                                                   0x9467BD, 0x8C564B, 0xE377C2, 0x17BECF};
constexpr std::array<const char*, 4> kDashes = {"", "7 3", "2 2", "9 3 2 3"};

std::string hexColour(std::uint32_t rgb) {
  char b[8];
  std::snprintf(b, sizeof b, "#%06X", static_cast<unsigned>(rgb & 0xFFFFFFu));
  return b;
}

// A coordinate in pixels.
std::string px(double v) {
  char b[48];
  std::snprintf(b, sizeof b, "%.2f", v);
  const std::string s = b;
  return s == "-0.00" ? "0.00" : s;
}

// A tick value with as many decimals as its step needs.
std::string tickText(double v, double step) {
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
  char b[48];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  std::string s = b;
  if (s.find_first_not_of("-0.") == std::string::npos)
    s = decimals == 0 ? "0" : s.substr(s[0] == '-');
  return s;
}

// A step of 1, 2 or 5 times a power of ten giving about `count` intervals
// over `range`.
double niceStep(double range, int count) {
  if (!(range > 0.0) || !std::isfinite(range)) return 1.0;
  const double raw = range / count;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0})
    if (m * p >= raw) return m * p;
  return 10.0 * p;
}

// A value axis: [lo, hi] widened to whole steps.
struct Axis {
  double lo = 0.0, hi = 1.0, step = 0.2;
};

Axis valueAxis(double lo, double hi) {
  if (!(hi > lo)) {
    lo -= 0.5;
    hi += 0.5;
  }
  // Orders that exceed a round number by rounding alone (1.000000004)
  // do not widen the axis by a whole step.
  const double slack = 1e-6 * (hi - lo);
  lo += slack;
  hi -= slack;
  Axis a;
  a.step = niceStep(hi - lo, 5);
  a.lo = std::floor(lo / a.step + 1e-9) * a.step;
  a.hi = std::ceil(hi / a.step - 1e-9) * a.step;
  return a;
}

class SeriesPlot {
 public:
  explicit SeriesPlot(const Series& s) : s_(s) {}
  std::string build();

 private:
  struct Panel {
    double top, height;
    Axis axis;
  };
  double xOf(std::size_t k) const;  // frame k from 0
  double yOf(const Panel& p, double v) const {
    return p.top + p.height * (p.axis.hi - v) / (p.axis.hi - p.axis.lo);
  }
  void text(double x, double y, const std::string& cls, const std::string& body,
            const std::string& extra = "");
  void panelFrame(const Panel& p, const std::string& title, bool frameTicks);
  void bondLines();
  void energyLine();
  void legend();

  const Series& s_;
  std::string o_;
  double left_ = 0.0, width_ = 0.0;  // the plot area across
  Panel bonds_{}, energy_{};
  bool hasEnergy_ = false;
  std::size_t reference_ = 0;  // the frame the energies are relative to
  double legendX_ = 0.0, legendTop_ = 0.0, legendColumn_ = 0.0;
  std::size_t legendRows_ = 0;
  double totalWidth_ = 0.0, totalHeight_ = 0.0;
};

double SeriesPlot::xOf(std::size_t k) const {
  const std::size_t n = s_.frames();
  if (n <= 1) return left_ + width_ / 2.0;
  return left_ + width_ * static_cast<double>(k) / static_cast<double>(n - 1);
}

void SeriesPlot::text(double x, double y, const std::string& cls, const std::string& body,
                      const std::string& extra) {
  o_ += "<text class=\"" + cls + "\" x=\"" + px(x) + "\" y=\"" + px(y) + "\"";
  if (!extra.empty()) o_ += " " + extra;
  o_ += ">" + body + "</text>\n";
}

void SeriesPlot::panelFrame(const Panel& p, const std::string& title, bool frameTicks) {
  const double bottom = p.top + p.height;
  o_ += "<rect class=\"plot-area\" x=\"" + px(left_) + "\" y=\"" + px(p.top) + "\" width=\"" +
        px(width_) + "\" height=\"" + px(p.height) +
        "\" fill=\"#FFFFFF\" stroke=\"#555555\" stroke-width=\"1\"/>\n";
  o_ += "<g class=\"axis\" stroke=\"#E3E3E3\" stroke-width=\"1\">\n";
  const Axis& a = p.axis;
  for (double v = a.lo; v <= a.hi + a.step * 1e-6; v += a.step) {
    const double y = yOf(p, v);
    o_ += "<line x1=\"" + px(left_) + "\" y1=\"" + px(y) + "\" x2=\"" + px(left_ + width_) +
          "\" y2=\"" + px(y) + "\"/>\n";
  }
  o_ += "</g>\n<g class=\"tick-labels\" font-size=\"" + px(kTickFont) +
        "\" fill=\"#333333\" text-anchor=\"end\">\n";
  for (double v = a.lo; v <= a.hi + a.step * 1e-6; v += a.step)
    text(left_ - 6.0, yOf(p, v) + kTickFont * 0.35, "tick-label", tickText(v, a.step));
  o_ += "</g>\n";
  // The frames along the bottom: whole numbers only.
  const std::size_t n = s_.frames();
  const auto step = static_cast<std::size_t>(
      std::max(1.0, niceStep(static_cast<double>(std::max<std::size_t>(n, 2) - 1), 8)));
  o_ += "<g class=\"tick-labels\" font-size=\"" + px(kTickFont) +
        "\" fill=\"#333333\" text-anchor=\"middle\">\n";
  for (std::size_t f = 1; f <= n; f = f == 1 && step > 1 ? step : f + step) {
    const double x = xOf(f - 1);
    o_ += "<line class=\"axis\" x1=\"" + px(x) + "\" y1=\"" + px(bottom) + "\" x2=\"" + px(x) +
          "\" y2=\"" + px(bottom + 4.0) + "\" stroke=\"#555555\"/>\n";
    if (frameTicks) text(x, bottom + 6.0 + kTickFont, "tick-label", std::to_string(f));
  }
  o_ += "</g>\n";
  if (frameTicks)
    text(left_ + width_ / 2.0, bottom + 10.0 + 2.0 * kTickFont + 6.0, "axis-title", "Frame",
         "font-size=\"" + px(kSubtitleFont) + "\" text-anchor=\"middle\"");
  const double mid = p.top + p.height / 2.0;
  text(kMargin + kSubtitleFont, mid, "axis-title", title,
       "font-size=\"" + px(kSubtitleFont) + "\" text-anchor=\"middle\" transform=\"rotate(-90 " +
           px(kMargin + kSubtitleFont) + " " + px(mid) + ")\"");
}

void SeriesPlot::bondLines() {
  const double y = yOf(bonds_, kEventThreshold);
  o_ += "<line class=\"event-threshold\" x1=\"" + px(left_) + "\" y1=\"" + px(y) + "\" x2=\"" +
        px(left_ + width_) + "\" y2=\"" + px(y) +
        "\" stroke=\"#777777\" stroke-width=\"1.5\" stroke-dasharray=\"4 4\"/>\n";
  // Points are drawn smaller when the frames crowd the axis.
  const double r = std::clamp(width_ / std::max<double>(1.0, s_.frames()) / 3.0, 1.2, 3.0);
  for (std::size_t b = 0; b < s_.bonds.size(); ++b) {
    const std::string atoms =
        std::to_string(s_.bonds[b].first) + " " + std::to_string(s_.bonds[b].second);
    const std::string colour = hexColour(kColours[b % kColours.size()]);
    const char* dash = kDashes[(b / kColours.size()) % kDashes.size()];
    std::string points;
    for (std::size_t k = 0; k < s_.frames(); ++k) {
      if (k > 0) points += ' ';
      points += px(xOf(k)) + "," + px(yOf(bonds_, s_.bondOrders[b][k]));
    }
    o_ += "<polyline class=\"bond-line\" data-atoms=\"" + atoms + "\" points=\"" + points +
          "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2\"";
    if (*dash != '\0') o_ += std::string(" stroke-dasharray=\"") + dash + "\"";
    o_ += "/>\n<g class=\"bond-points\" data-atoms=\"" + atoms + "\" fill=\"" + colour + "\">\n";
    for (std::size_t k = 0; k < s_.frames(); ++k)
      o_ += "<circle class=\"bond-point\" data-frame=\"" + std::to_string(k + 1) + "\" cx=\"" +
            px(xOf(k)) + "\" cy=\"" + px(yOf(bonds_, s_.bondOrders[b][k])) + "\" r=\"" + px(r) +
            "\"/>\n";
    o_ += "</g>\n";
  }
}

void SeriesPlot::energyLine() {
  const double e0 = *s_.energies[reference_];
  auto rel = [&](std::size_t k) { return (*s_.energies[k] - e0) * kHartreeInKcal; };
  // A frame without an energy breaks the line.
  std::vector<std::string> runs(1);
  for (std::size_t k = 0; k < s_.frames(); ++k) {
    if (!s_.energies[k]) {
      if (!runs.back().empty()) runs.emplace_back();
      continue;
    }
    if (!runs.back().empty()) runs.back() += ' ';
    runs.back() += px(xOf(k)) + "," + px(yOf(energy_, rel(k)));
  }
  for (const std::string& pts : runs)
    if (!pts.empty())
      o_ += "<polyline class=\"energy-line\" points=\"" + pts +
            "\" fill=\"none\" stroke=\"#222222\" stroke-width=\"2\"/>\n";
  const double r = std::clamp(width_ / std::max<double>(1.0, s_.frames()) / 3.0, 1.2, 3.0);
  o_ += "<g class=\"energy-points\" fill=\"#222222\">\n";
  for (std::size_t k = 0; k < s_.frames(); ++k)
    if (s_.energies[k])
      o_ += "<circle class=\"energy-point\" data-frame=\"" + std::to_string(k + 1) + "\" cx=\"" +
            px(xOf(k)) + "\" cy=\"" + px(yOf(energy_, rel(k))) + "\" r=\"" + px(r) + "\"/>\n";
  o_ += "</g>\n";
}

void SeriesPlot::legend() {
  o_ += "<g class=\"legend\" font-size=\"" + px(kLegendFont) + "\" fill=\"#000000\">\n";
  auto entry = [&](std::size_t slot, const std::string& colour, const char* dash,
                   const std::string& label, const std::string& data) {
    const double x = legendX_ + static_cast<double>(slot / legendRows_) * legendColumn_;
    const double y = legendTop_ + static_cast<double>(slot % legendRows_) * kLegendRow;
    o_ += "<g class=\"legend-entry\"" + data + ">\n<line x1=\"" + px(x) + "\" y1=\"" + px(y) +
          "\" x2=\"" + px(x + kLegendSample) + "\" y2=\"" + px(y) + "\" stroke=\"" + colour +
          "\" stroke-width=\"2\"";
    if (*dash != '\0') o_ += std::string(" stroke-dasharray=\"") + dash + "\"";
    o_ += "/>\n";
    text(x + kLegendSample + 6.0, y + kLegendFont * 0.35, "legend-label", label);
    o_ += "</g>\n";
  };
  std::size_t slot = 0;
  entry(slot++, "#777777", "4 4", "event threshold " + tickText(kEventThreshold, 0.1),
        " data-kind=\"threshold\"");
  for (std::size_t b = 0; b < s_.bonds.size(); ++b)
    entry(slot++, hexColour(kColours[b % kColours.size()]),
          kDashes[(b / kColours.size()) % kDashes.size()], pairLabel(s_, s_.bonds[b]),
          " data-atoms=\"" + std::to_string(s_.bonds[b].first) + " " +
              std::to_string(s_.bonds[b].second) + "\"");
  if (hasEnergy_) entry(slot++, "#222222", "", "energy", " data-kind=\"energy\"");
  o_ += "</g>\n";
}

std::string SeriesPlot::build() {
  const std::size_t n = s_.frames();
  for (std::size_t k = 0; k < n && !hasEnergy_; ++k)
    if (s_.energies[k]) {
      hasEnergy_ = true;
      reference_ = k;
    }

  // The plot area: wide enough for the frames, within bounds.
  left_ = kMargin + kAxisRoom;
  width_ = std::clamp(8.0 * static_cast<double>(n), 480.0, 960.0);
  const double top = kMargin + kTitleFont + 8.0 + kSubtitleFont + 20.0;

  double lo = 0.0, hi = 1.0;
  for (const std::vector<double>& along : s_.bondOrders)
    for (const double v : along)
      if (std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
  bonds_ = {top, 320.0, valueAxis(lo, hi)};
  double plotBottom = bonds_.top + bonds_.height;
  if (hasEnergy_) {
    double elo = 0.0, ehi = 0.0;
    for (std::size_t k = 0; k < n; ++k)
      if (s_.energies[k]) {
        const double v = (*s_.energies[k] - *s_.energies[reference_]) * kHartreeInKcal;
        elo = std::min(elo, v);
        ehi = std::max(ehi, v);
      }
    energy_ = {plotBottom + kPanelGap, 180.0, valueAxis(elo, ehi)};
    plotBottom = energy_.top + energy_.height;
  }

  // The legend right of the plot, in columns as tall as the plot.
  const std::size_t entries = s_.bonds.size() + 1 + (hasEnergy_ ? 1 : 0);
  legendRows_ = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::floor((plotBottom - top) / kLegendRow)));
  std::size_t longest = std::string("event threshold 0.5").size();
  for (const AtomPair& p : s_.bonds) longest = std::max(longest, pairLabel(s_, p).size());
  legendColumn_ =
      kLegendSample + 6.0 + kCharWidth * kLegendFont * static_cast<double>(longest) + 16.0;
  legendX_ = left_ + width_ + kLegendGap;
  legendTop_ = top + kLegendRow / 2.0;
  const std::size_t columns = (entries + legendRows_ - 1) / legendRows_;
  totalWidth_ = legendX_ + static_cast<double>(columns) * legendColumn_ + kMargin;
  totalHeight_ = plotBottom + kBelowPanel + kMargin;

  std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  head += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + px(totalWidth_) +
          "\" height=\"" + px(totalHeight_) + "\" viewBox=\"0 0 " + px(totalWidth_) + " " +
          px(totalHeight_) + "\" font-family=\"sans-serif\">\n";
  o_ = head;
  o_ += "<title>Bond orders along the series</title>\n";
  o_ += "<desc>Bond orders of " + std::to_string(s_.bonds.size()) +
        (s_.bonds.size() == 1 ? " pair" : " pairs") + " of atoms over " + std::to_string(n) +
        (n == 1 ? " frame" : " frames") + "</desc>\n";
  o_ += "<rect class=\"background\" width=\"100%\" height=\"100%\" fill=\"#FFFFFF\"/>\n";
  text(kMargin, kMargin + kTitleFont, "title", "Bond orders along the series",
       "font-size=\"" + px(kTitleFont) + "\" font-weight=\"bold\"");
  std::string sub = std::to_string(n) + (n == 1 ? " frame" : " frames") + " \xC2\xB7 " +
                    std::to_string(s_.bonds.size()) + (s_.bonds.size() == 1 ? " bond" : " bonds") +
                    " \xC2\xB7 " + std::to_string(s_.events.size()) +
                    (s_.events.size() == 1 ? " bond formed or broken" : " bonds formed or broken");
  if (hasEnergy_) sub += " \xC2\xB7 energy relative to frame " + std::to_string(reference_ + 1);
  text(kMargin, kMargin + kTitleFont + 8.0 + kSubtitleFont, "subtitle", sub,
       "font-size=\"" + px(kSubtitleFont) + "\" fill=\"#333333\"");

  panelFrame(bonds_, "Bond order", !hasEnergy_);
  bondLines();
  if (hasEnergy_) {
    panelFrame(energy_,
               "\xCE\x94"
               "E (kcal/mol)",
               true);
    energyLine();
  }
  legend();
  o_ += "</svg>\n";
  return std::move(o_);
}

}  // namespace

void writeSeriesSvg(std::ostream& out, const Series& s) {
  SeriesPlot plot(s);
  out << plot.build();
}

}  // namespace mv
