#include "report/json.h"

#include <nlohmann/json.hpp>

#include "core/elements.h"

namespace mv {

namespace {

using Json = nlohmann::ordered_json;

const char* checkName(const DensityCheck& d) {
  switch (d.outcome) {
    case DensityOutcome::Rebuilt:
      return "rebuilt";
    case DensityOutcome::Reread:
      return "reread";
    default:
      return "accepted";
  }
}

// Text from the file need not be valid UTF-8; bytes that are not are
// replaced rather than refused.
std::string dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// An nf by nf matrix as rows, or null when it was not formed.
Json rowsOf(const Matrix& m) {
  if (m.empty()) return nullptr;
  Json rows = Json::array();
  for (int i = 1; i <= m.rows(); ++i) {
    Json row = Json::array();
    for (int k = 1; k <= m.cols(); ++k) row.push_back(m(i, k));
    rows.push_back(std::move(row));
  }
  return rows;
}

void addFragments(Json& j, const FragmentAnalysis& f) {
  Json list = Json::array();
  for (int k = 1; k <= f.count(); ++k) {
    Json one;
    one["atoms"] = f.atoms[static_cast<std::size_t>(k - 1)];
    one["charge"] = f.charge(k);
    one["spin"] = f.spin.size() > 0 ? Json(f.spin(k)) : Json(nullptr);
    one["valence"] = f.valence(k);
    list.push_back(std::move(one));
  }
  j["fragments"] = std::move(list);
  j["fragment_bond_orders"] = rowsOf(f.bonds);
  j["fragment_bond_orders_alpha"] = rowsOf(f.alpha);
  j["fragment_bond_orders_beta"] = rowsOf(f.beta);
  j["fragment_wiberg_lowdin"] = rowsOf(f.wiberg);
}

void addMulticenter(Json& j, const MulticenterAnalysis& m) {
  Json list = Json::array();
  for (const MulticenterIndex& r : m.rings)
    list.push_back({{"atoms", r.atoms},
                    {"index", r.index},
                    {"normalized", r.normalized},
                    {"formula", formulaName(m.formula)}});
  j["multicenter"] = std::move(list);
}

}  // namespace

namespace {

// The length of the well-formed UTF-8 character at the start of `s`, or 0.
std::size_t utf8Length(std::string_view s) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  auto follows = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
    return k < s.size() && byte(k) >= lo && byte(k) <= hi;
  };
  const unsigned c = byte(0);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return follows(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    return follows(1, lo, hi) && follows(2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    return follows(1, lo, hi) && follows(2) && follows(3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

bool isUtf8(std::string_view text) {
  for (std::size_t k = 0; k < text.size();) {
    const std::size_t n = utf8Length(text.substr(k));
    if (n == 0) return false;
    k += n;
  }
  return true;
}

std::string escapeNonUtf8(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t k = 0; k < name.size();) {
    const std::size_t n = utf8Length(name.substr(k));
    if (n == 0) {
      const auto b = static_cast<unsigned char>(name[k]);
      out.append("\\x").push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
      ++k;
    } else {
      if (name[k] == '\\') out.push_back('\\');
      out.append(name.substr(k, n));
      k += n;
    }
  }
  return out;
}

std::string spinKind(const Checkpoint& ck) {
  if (ck.unrestricted() && !ck.sameSpinOrbitals) return "unrestricted";
  if (ck.nalpha != ck.nbeta) return "restricted open-shell";
  return "restricted";
}

std::string jsonLine(const JsonInput& in) {
  Json j;
  if (isUtf8(in.file)) {
    j["file"] = in.file;
  } else {
    j["file"] = escapeNonUtf8(in.file);
    j["file_escaped"] = true;
  }
  const bool ok = in.stop == nullptr && in.bonds != nullptr;
  j["status"] = ok ? "ok" : (in.stop != nullptr && in.stop->isError() ? "error" : "refused");
  if (!ok) {
    Json e;
    if (in.stop != nullptr && !in.stop->code.empty())
      e["code"] = in.stop->code;
    else
      e["code"] = nullptr;
    e["message"] =
        in.stop != nullptr ? in.stop->diagnostic() : std::string("the analysis did not finish");
    if (in.stop != nullptr && in.stop->line > 0) e["line"] = in.stop->line;
    j["error"] = e;
  }

  const Checkpoint* ck = in.ck;
  const bool molden = ck != nullptr && ck->format == FileFormat::Molden;
  const bool arrays = ck != nullptr && ck->format == FileFormat::Arrays;
  if (ck != nullptr) j["format"] = formatName(ck->format);
  if (arrays) {
    // Matrices from memory carry no title, method or basis name.
    j["title"] = nullptr;
    j["method"] = nullptr;
    j["basis"] = nullptr;
  } else if (ck != nullptr && !ck->title.empty()) {
    j["title"] = trimBlanks(ck->title);
    // A Molden file names neither the method nor the basis, nor do the
    // wave-function files.
    if (ck->format != FileFormat::Fchk) {
      j["method"] = nullptr;
      j["basis"] = nullptr;
    } else {
      j["method"] = ck->calc.method;
      j["basis"] = ck->calc.basis;
    }
  }
  if (ck != nullptr && ck->natoms > 0 && ck->atomicNumber.size() == ck->natoms) {
    j["electrons"] = ck->electrons;
    j["alpha_electrons"] = ck->nalpha;
    j["beta_electrons"] = ck->nbeta;
    j["basis_functions"] = ck->nbf;
    j["spin"] = spinKind(*ck);
    j["charge"] = ck->moleculeCharge();
    j["multiplicity"] = ck->moleculeMultiplicity();
    if (const std::optional<double> e = ck->energy())
      j["energy"] = *e;
    else
      j["energy"] = nullptr;
  }
  if (ck != nullptr && !ck->densityLabel.empty() && ok) j["density"] = ck->densityName();
  if (in.density != nullptr && ok) j["density_check"] = checkName(*in.density);
  if (molden && ok && in.convention != nullptr) {
    j["convention"] = in.convention->name;
    j["orthonormality_deviation"] = in.convention->deviation;
  }
  if (!ok) return dump(j);

  const BondOrders& b = *in.bonds;
  const Populations& pop = *in.populations;
  j["spin_density_used"] = b.spinTerm;
  j["unpaired_electrons"] = b.unpaired;
  // Records of X, null when X was not formed.
  j["hermiticity"] = b.xFormed ? Json(b.hermiticity) : Json(nullptr);
  j["trace_x"] = b.xFormed ? Json(b.trace) : Json(nullptr);
  const int nat = b.total.size();
  Json atoms = Json::array();
  for (int a = 1; a <= nat; ++a) {
    Json at;
    at["index"] = a;
    at["atomic_number"] = ck->atomicNumber(a);
    at["symbol"] = std::string(elementSymbol(ck->atomicNumber(a)));
    at["nuclear_charge"] = ck->nuclearCharge(a);
    at["core_electrons"] = ck->coreElectrons(a);
    if (ck->nuclearCharge(a) == 0.0) at["ghost"] = true;
    at["xyz_bohr"] = {ck->coords(1, a), ck->coords(2, a), ck->coords(3, a)};
    at["population"] = pop.qat(a);
    at["charge"] = ck->nuclearCharge(a) - pop.qat(a);
    at["total_valence"] = b.total(a);
    at["bonded_valence"] = b.used(a);
    at["free_valence"] = b.free(a);
    at["spin_population"] = in.spin != nullptr ? Json(in.spin->atom(a)) : Json(nullptr);
    if (in.lowdin != nullptr) {
      at["lowdin_population"] = in.lowdin->population(a);
      at["lowdin_charge"] = ck->nuclearCharge(a) - in.lowdin->population(a);
    } else {
      at["lowdin_population"] = nullptr;
      at["lowdin_charge"] = nullptr;
    }
    atoms.push_back(std::move(at));
  }
  j["atoms"] = std::move(atoms);
  Json matrix = Json::array();
  for (int a = 1; a <= nat; ++a) {
    Json row = Json::array();
    for (int c = 1; c <= nat; ++c) row.push_back(b.bonds(a, c));
    matrix.push_back(std::move(row));
  }
  j["bond_orders"] = std::move(matrix);
  if (in.lowdin != nullptr) {
    Json wiberg = Json::array();
    for (int a = 1; a <= nat; ++a) {
      Json row = Json::array();
      for (int c = 1; c <= nat; ++c) row.push_back(in.lowdin->wiberg(a, c));
      wiberg.push_back(std::move(row));
    }
    j["wiberg_lowdin"] = std::move(wiberg);
  } else {
    j["wiberg_lowdin"] = nullptr;
  }
  Json bonds = Json::array();
  for (int a = 1; a <= nat; ++a)
    for (int c = a + 1; c <= nat; ++c)
      if (b.bonds(a, c) >= in.minBond)
        bonds.push_back({{"atoms", {a, c}}, {"order", b.bonds(a, c)}});
  j["bonds"] = std::move(bonds);
  if (in.fragments != nullptr) addFragments(j, *in.fragments);
  if (in.multicenter != nullptr) addMulticenter(j, *in.multicenter);
  return dump(j);
}

}  // namespace mv
