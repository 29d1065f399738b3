#!/usr/bin/env python3
"""Make the damaged files of tests/data/damaged/ from the fixtures.

Each kind of damage gets a folder; tests/e2e/damaged_test.cpp runs every
file there and expects the refusal named in its table.  Run from the
repository's root:  python3 tests/data/damaged/make_damaged.py
"""
import os
import re

ROOT = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.dirname(ROOT)


def read(name):
    with open(os.path.join(DATA, name), encoding="ascii") as f:
        return f.read()


def write(kind, name, text, binary=False):
    os.makedirs(os.path.join(ROOT, kind), exist_ok=True)
    with open(os.path.join(ROOT, kind, name), "wb" if binary else "w") as f:
        f.write(text)


# --- fchk arrays -----------------------------------------------------------
def fchk_section(text, label):
    """(start, end, values) of a real array: its value lines and values."""
    m = re.search(r"^" + re.escape(label) + r" +R +N= *(\d+)\n", text, re.M)
    n = int(m.group(1))
    start = m.end()
    lines = (n + 4) // 5
    end = start
    for _ in range(lines):
        end = text.index("\n", end) + 1
    values = [float(v) for v in text[start:end].split()]
    assert len(values) == n
    return start, end, values


def fchk_replace(text, label, values):
    start, end, _ = fchk_section(text, label)
    body = "".join(
        "".join("%16.8E" % v for v in values[k:k + 5]) + "\n" for k in range(0, len(values), 5))
    return text[:start] + body + text[end:]


def fchk_scalar(text, label, value):
    return re.sub(r"^(" + re.escape(label) + r" +I +)(-?\d+)$",
                  lambda m: m.group(1) + "%*d" % (len(m.group(2)), value), text, flags=re.M)


def fchk_drop(text, label):
    start, end, _ = fchk_section(text, label)
    head = text.rfind("\n", 0, start - 1) + 1
    return text[:head] + text[end:]


def unpack(tri, n):
    p = [[0.0] * n for _ in range(n)]
    k = 0
    for i in range(n):
        for j in range(i + 1):
            p[i][j] = p[j][i] = tri[k]
            k += 1
    return p


def pack(p):
    return [p[i][j] for i in range(len(p)) for j in range(i + 1)]


# Densities whose trace with S is off by less than the classic 0.1.
mp2 = read("h2o_mp2_ccpvdz.fchk")
_, _, d = fchk_section(mp2, "Total MP2 Density")
write("trace", "h2o_mp2_scaled_1.009.fchk",
      fchk_replace(mp2, "Total MP2 Density", [1.009 * v for v in d]))
n = 24
p = unpack(d, n)
q = [row[:] for row in p]
for j in range(n):  # the sign of function 2 flipped in the density
    if j != 1:
        q[1][j] = -p[1][j]
        q[j][1] = -p[j][1]
write("trace", "h2o_mp2_sign_of_function_2.fchk", fchk_replace(mp2, "Total MP2 Density", pack(q)))
order = list(range(n))
order[1], order[3] = 3, 1  # functions 2 and 4 swapped
q = [[p[order[i]][order[j]] for j in range(n)] for i in range(n)]
write("trace", "h2o_mp2_functions_2_4_swapped.fchk",
      fchk_replace(mp2, "Total MP2 Density", pack(q)))
scf = read("h2o_rhf_sto3g.fchk")
_, _, d = fchk_section(scf, "Total SCF Density")
relabelled = fchk_replace(scf, "Total SCF Density", [1.004 * v for v in d])
write("trace", "h2o_scf_scaled_as_ci_density.fchk",
      relabelled.replace("Total SCF Density", "Total CI Density "))

# Orbitals without a density that are not orthonormal.
bare = fchk_drop(scf, "Total SCF Density")
_, _, c = fchk_section(bare, "Alpha MO coefficients")
write("orbitals", "h2o_orbitals_scaled_1.0045.fchk",
      fchk_replace(bare, "Alpha MO coefficients", [1.0045 * v for v in c]))
_, _, xyz = fchk_section(bare, "Current cartesian coordinates")
xyz[0] += 0.2  # the oxygen moved, its orbitals not
write("orbitals", "h2o_orbitals_atom_moved_0.2.fchk",
      fchk_replace(bare, "Current cartesian coordinates", xyz))

# No electrons.
h2 = read("h2_rhf_sto3g.fchk")
for label in ("Number of electrons", "Number of alpha electrons", "Number of beta electrons"):
    h2 = fchk_scalar(h2, label, 0)
h2 = fchk_scalar(h2, "Charge", 2)
_, _, d = fchk_section(h2, "Total SCF Density")
write("electrons", "h2_no_electrons.fchk", fchk_replace(h2, "Total SCF Density", [0.0] * len(d)))


# --- Molden files ------------------------------------------------------------
water = read("molden/h2o_sto3g.molden")
ch3 = read("molden/ch3_uhf_sto3g.molden")


def occupations(text, values):
    """The Occup= values replaced in order (None keeps one)."""
    it = iter(values)

    def sub(m):
        v = next(it, None)
        return m.group(0) if v is None else m.group(1) + v

    return re.sub(r"(Occup= *)\S+", sub, text)


def cut_lines(text, k):
    return "".join(text.splitlines(keepends=True)[:k])


mo = water.splitlines(keepends=True)
first = next(i for i, l in enumerate(mo) if l.strip().lower() == "[mo]")
second = [i for i, l in enumerate(mo) if "Occup=" in l][1]
write("cut", "h2o_cut_in_second_orbital.molden", cut_lines(water, second + 4))
beta = [i for i, l in enumerate(ch3.splitlines()) if "Beta" in l]
write("cut", "ch3_uhf_cut_after_first_beta.molden", cut_lines(ch3, beta[1] - 2))
natural = occupations(water, ["2.0", "1.99", "1.98", "1.97", "1.96", "0.05", "0.05"])
nat_lines = natural.splitlines(keepends=True)
last_occ = [i for i, l in enumerate(nat_lines) if "Occup=" in l][-1]
write("cut", "h2o_natural_cut_after_six_orbitals.molden", "".join(nat_lines[:last_occ - 3]))

write("occupations", "h2o_occupation_2.05.molden", occupations(water, ["2.05"]))
write("occupations", "h2o_occupations_2.09_minus_0.09.molden",
      occupations(water, [None, None, None, None, "2.09", "-0.09"]))
write("occupations", "ch3_alpha_occupation_1.04.molden", occupations(ch3, [None, None, "1.04"]))
write("occupations", "h2o_natural_sum_10.0008.molden",
      occupations(water, ["2.0", "1.99", "1.98", "1.97", "1.96", "0.05", "0.0508"]))

write("electrons", "h2o_no_electrons.molden", occupations(water, ["0.0"] * 7))

write("molden", "h2o_second_mo_section.molden", water + "[MO]\n" + "".join(mo[first + 1:]))
write("molden", "h2o_atoms_in_pm.molden", re.sub(r"\[Atoms\][^\n]*", "[Atoms] pm", water, 1))
write("molden", "h2o_scale_factor_1e200.molden", re.sub(r"(\n *s +3 +)1\.00", r"\g<1>1e200", water, 1))
# One coefficient of the first orbital off by 4e-5: C^T S C stays within
# 1e-4 of the unit matrix, the trace of the density does not.
write("molden", "h2o_coefficient_off_by_4e-5.molden",
      water.replace("9.94126314791686894e-01", "9.94166314791686894e-01", 1))

# Text in UTF-16 is not a binary checkpoint file.
write("input", "h2o_utf16.fchk", scf.encode("utf-16"), binary=True)
