#include "analysis/fragments.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "analysis/linalg.h"
#include "analysis/occupations.h"

namespace mv {

namespace {

[[noreturn]] void bad(const std::string& message) {
  throw std::invalid_argument(message);
}

std::string trimmed(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The parts of `text` between the separators (an empty text has one empty
// part).
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(separator, from);
    parts.push_back(trimmed(text.substr(from, at == std::string::npos ? at : at - from)));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// Atom numbers have at most 9 digits: no molecule has a billion atoms, and
// the number fits an int.
constexpr std::size_t kMaxDigits = 9;

// An atom number, or -1 when `s` is not one; atom 0 is refused here.
int atomNumber(const std::string& s) {
  if (s.empty() || s.size() > kMaxDigits || s.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const int v = std::stoi(s);
  if (v == 0) bad("atom 0 does not exist: atoms are numbered from 1");
  return v;
}

std::string rangeText(const AtomRange& r) {
  return std::to_string(r.first) + "-" + std::to_string(r.second);
}

}  // namespace

FragmentRequest parseFragments(const std::string& text) {
  FragmentRequest r;
  r.text = text;
  if (trimmed(text) == "auto") {
    r.automatic = true;
    return r;
  }
  const std::vector<std::string> groups = split(text, ';');
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].empty()) bad("group " + std::to_string(g + 1) + " is empty");
    std::vector<AtomRange> ranges;
    for (const std::string& item : split(groups[g], ',')) {
      const std::size_t dash = item.find('-');
      const int lo = atomNumber(trimmed(item.substr(0, dash)));
      const int hi = dash == std::string::npos ? lo : atomNumber(trimmed(item.substr(dash + 1)));
      if (lo < 0 || hi < 0)
        bad("'" + item + "' is not an atom number or a range of atoms (such as 1-3)");
      if (hi < lo) bad("range '" + item + "' ends below its start");
      ranges.emplace_back(lo, hi);
    }
    r.groups.push_back(std::move(ranges));
  }
  // An atom in two places: the ranges by their starts, each checked
  // against the furthest end before it; the first one found is the
  // smallest atom listed twice.
  std::vector<AtomRange> all;
  for (const std::vector<AtomRange>& g : r.groups) all.insert(all.end(), g.begin(), g.end());
  std::sort(all.begin(), all.end());
  int furthest = 0;
  for (const AtomRange& x : all) {
    if (x.first <= furthest) bad("atom " + std::to_string(x.first) + " is listed twice");
    furthest = x.second;
  }
  return r;
}

std::vector<std::vector<int>> parseRings(const std::string& text) {
  std::vector<std::vector<int>> rings;
  const std::vector<std::string> parts = split(text, ';');
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::string name = "ring " + std::to_string(k + 1) + " ('" + parts[k] + "')";
    std::vector<int> ring;
    for (const std::string& item : split(parts[k], ',')) {
      if (item.empty() && parts[k].empty()) break;
      const int a = atomNumber(item);
      if (a < 0) bad("'" + item + "' in " + name + " is not an atom number");
      if (std::find(ring.begin(), ring.end(), a) != ring.end())
        bad("atom " + std::to_string(a) + " is repeated in " + name);
      ring.push_back(a);
    }
    if (ring.size() < 2) bad(name + " has fewer than two atoms");
    rings.push_back(std::move(ring));
  }
  return rings;
}

void requireAtomsInRange(const FragmentRequest& request, int natoms) {
  for (const std::vector<AtomRange>& g : request.groups)
    for (const AtomRange& r : g)
      if (r.second > natoms)
        bad("atom " + std::to_string(std::max(r.first, natoms + 1)) +
            (r.first == r.second ? "" : " (of range " + rangeText(r) + ")") +
            " is out of range: the molecule has " + std::to_string(natoms) + " atoms");
}

void requireAtomsInRange(const std::vector<std::vector<int>>& rings, int natoms) {
  for (const std::vector<int>& ring : rings)
    for (const int a : ring)
      if (a > natoms)
        bad("atom " + std::to_string(a) + " is out of range: the molecule has " +
            std::to_string(natoms) + " atoms");
}

std::vector<std::vector<int>> resolveFragments(const FragmentRequest& request, int natoms,
                                               const Matrix& bonds, double minBond) {
  std::vector<std::vector<int>> out;
  if (request.automatic) {
    // Components by union of the bonded pairs; every atom points towards
    // the lowest atom of its component.
    std::vector<int> root(static_cast<std::size_t>(natoms) + 1);
    std::iota(root.begin(), root.end(), 0);
    auto find = [&](int a) {
      while (root[static_cast<std::size_t>(a)] != a)
        a = root[static_cast<std::size_t>(a)] =
            root[static_cast<std::size_t>(root[static_cast<std::size_t>(a)])];
      return a;
    };
    for (int b = 2; b <= natoms; ++b)
      for (int a = 1; a < b; ++a)
        if (bonds(a, b) >= minBond) {
          const int x = find(a), y = find(b);
          root[static_cast<std::size_t>(std::max(x, y))] = std::min(x, y);
        }
    std::vector<int> index(static_cast<std::size_t>(natoms) + 1, 0);
    for (int a = 1; a <= natoms; ++a) {
      const int r = find(a);
      if (r == a) {
        out.emplace_back();
        index[static_cast<std::size_t>(a)] = static_cast<int>(out.size());
      }
      out[static_cast<std::size_t>(index[static_cast<std::size_t>(r)]) - 1].push_back(a);
    }
    return out;
  }
  requireAtomsInRange(request, natoms);
  std::vector<bool> listed(static_cast<std::size_t>(natoms) + 1, false);
  for (const std::vector<AtomRange>& g : request.groups) {
    std::vector<int> atoms;
    for (const AtomRange& r : g)
      for (int a = r.first; a <= r.second; ++a) {
        atoms.push_back(a);
        listed[static_cast<std::size_t>(a)] = true;
      }
    std::sort(atoms.begin(), atoms.end());
    out.push_back(std::move(atoms));
  }
  std::vector<int> rest;
  for (int a = 1; a <= natoms; ++a)
    if (!listed[static_cast<std::size_t>(a)]) rest.push_back(a);
  if (!rest.empty()) out.push_back(std::move(rest));
  return out;
}

std::string atomRangesText(const std::vector<int>& atoms) {
  std::string s;
  for (std::size_t k = 0; k < atoms.size();) {
    std::size_t e = k;
    while (e + 1 < atoms.size() && atoms[e + 1] == atoms[e] + 1) ++e;
    if (!s.empty()) s += ',';
    if (e >= k + 2) {
      s += std::to_string(atoms[k]) + "-" + std::to_string(atoms[e]);
      k = e + 1;
    } else {
      s += std::to_string(atoms[k]);
      ++k;
    }
  }
  return s;
}

Matrix fragmentSums(const Matrix& pairs, const Vec1<int>& fragmentOf, int nf) {
  Matrix f(nf, nf);
  const int nat = fragmentOf.size();
  for (int a = 1; a <= nat; ++a)
    for (int b = a + 1; b <= nat; ++b) {
      const int x = fragmentOf(a), y = fragmentOf(b);
      f(x, y) += pairs(a, b);
      if (x != y) f(y, x) += pairs(a, b);
    }
  return f;
}

Matrix spinBondOrders(const Matrix& ps, const Matrix& s, const Vec1<int>& first,
                      const Vec1<int>& last, const Parallel& par) {
  const int n = s.rows();
  const int nat = first.size();
  Matrix w = Matrix::uninitialised(n, n);
  if (eigenpairsAvailable(n))
    libraryProduct(w.view(), ps.view(), s.view(), n, par);
  else
    matmul(w.view(), ps.view(), s.view(), n, par);
  Matrix b(nat, nat);
  for (int a = 1; a <= nat; ++a)
    for (int c = a + 1; c <= nat; ++c) {
      double sum = 0.0;
      for (int mu = first(a); mu <= last(a); ++mu)
        for (int nu = first(c); nu <= last(c); ++nu) sum += w(mu, nu) * w(nu, mu);
      b(a, c) = 2.0 * sum;
      b(c, a) = b(a, c);
    }
  return b;
}

FragmentAnalysis fragmentAnalysis(const std::vector<std::vector<int>>& fragments,
                                  const AtomValues& values, const SpinDensities* densities,
                                  const Parallel& par) {
  FragmentAnalysis r;
  r.atoms = fragments;
  const int nf = r.count();
  const int nat = values.charge->size();
  Vec1<int> fragmentOf(nat);
  for (int f = 1; f <= nf; ++f)
    for (const int a : fragments[static_cast<std::size_t>(f - 1)]) fragmentOf(a) = f;
  auto sums = [&](const Vec1<double>& v) {
    Vec1<double> s(nf);
    for (int f = 1; f <= nf; ++f)
      for (const int a : fragments[static_cast<std::size_t>(f - 1)]) s(f) += v(a);
    return s;
  };
  r.charge = sums(*values.charge);
  if (values.spin != nullptr) r.spin = sums(*values.spin);
  r.valence = sums(*values.valence);
  r.bonds = fragmentSums(*values.bonds, fragmentOf, nf);
  if (values.wiberg != nullptr) r.wiberg = fragmentSums(*values.wiberg, fragmentOf, nf);
  if (densities != nullptr) {
    const Matrix& p = *densities->total;
    const Matrix& ps = *densities->spin;
    const int n = p.rows();
    for (const double sign : {1.0, -1.0}) {
      Matrix one = Matrix::uninitialised(n, n);
      for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i) one(i, j) = 0.5 * (p(i, j) + sign * ps(i, j));
      const Matrix pairs =
          spinBondOrders(one, *densities->overlap, *densities->first, *densities->last, par);
      (sign > 0.0 ? r.alpha : r.beta) = fragmentSums(pairs, fragmentOf, nf);
    }
  }
  return r;
}

}  // namespace mv
