// Constant tables of the molecule drawing: element colours and covalent
// radii, indexed by atomic number (0 is a ghost atom, "Bq").
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace mv::svgtab {

inline constexpr int kMaxZ = 118;

// Element colours as 0xRRGGBB: the CPK colours as Jmol uses them, hydrogen
// to meitnerium (109).  Jmol's table stops there; the heavier elements keep
// meitnerium's colour.  The ghost atom is a light grey.
inline constexpr std::array<std::uint32_t, kMaxZ + 1> kColour = {
    0xD8D8D8,                                                              // Bq
    0xFFFFFF, 0xD9FFFF,                                                    // H He
    0xCC80FF, 0xC2FF00, 0xFFB5B5, 0x909090, 0x3050F8, 0xFF0D0D, 0x90E050,  // Li..F
    0xB3E3F5,                                                              // Ne
    0xAB5CF2, 0x8AFF00, 0xBFA6A6, 0xF0C8A0, 0xFF8000, 0xFFFF30, 0x1FF01F,  // Na..Cl
    0x80D1E3,                                                              // Ar
    0x8F40D4, 0x3DFF00, 0xE6E6E6, 0xBFC2C7, 0xA6A6AB, 0x8A99C7, 0x9C7AC7,  // K..Mn
    0xE06633, 0xF090A0, 0x50D050, 0xC88033, 0x7D80B0, 0xC28F8F, 0x668F8F,  // Fe..Ge
    0xBD80E3, 0xFFA100, 0xA62929, 0x5CB8D1,                                // As..Kr
    0x702EB0, 0x00FF00, 0x94FFFF, 0x94E0E0, 0x73C2C9, 0x54B5B5, 0x3B9E9E,  // Rb..Tc
    0x248F8F, 0x0A7D8C, 0x006985, 0xC0C0C0, 0xFFD98F, 0xA67573, 0x668080,  // Ru..Sn
    0x9E63B5, 0xD47A00, 0x940094, 0x429EB0,                                // Sb..Xe
    0x57178F, 0x00C900, 0x70D4FF, 0xFFFFC7, 0xD9FFC7, 0xC7FFC7, 0xA3FFC7,  // Cs..Pm
    0x8FFFC7, 0x61FFC7, 0x45FFC7, 0x30FFC7, 0x1FFFC7, 0x00FF9C, 0x00E675,  // Sm..Er
    0x00D452, 0x00BF38, 0x00AB24, 0x4DC2FF, 0x4DA6FF, 0x2194D6, 0x267DAB,  // Tm..Re
    0x266696, 0x175487, 0xD0D0E0, 0xFFD123, 0xB8B8D0, 0xA6544D, 0x575961,  // Os..Pb
    0x9E4FB5, 0xAB5C00, 0x754F45, 0x428296,                                // Bi..Rn
    0x420066, 0x007D00, 0x70ABFA, 0x00BAFF, 0x00A1FF, 0x008FFF, 0x0080FF,  // Fr..Np
    0x006BFF, 0x545CF2, 0x785CE3, 0x8A4FE3, 0xA136D4, 0xB31FD4, 0xB31FBA,  // Pu..Fm
    0xB30DA6, 0xBD0D87, 0xC70066, 0xCC0059, 0xD1004F, 0xD90045, 0xE00038,  // Md..Bh
    0xE6002E, 0xEB0026,                                                    // Hs Mt
    0xEB0026, 0xEB0026, 0xEB0026, 0xEB0026, 0xEB0026, 0xEB0026, 0xEB0026,  // Ds..Lv
    0xEB0026, 0xEB0026};                                                   // Ts Og

// Covalent radii in angstrom (Cordero et al., Dalton Trans. 2008, 2832):
// hydrogen to curium (96); carbon as sp3, manganese, iron and cobalt low
// spin.  The paper stops at curium; the heavier elements take 1.50 A.  The
// ghost atom is drawn small.
inline constexpr std::array<double, kMaxZ + 1> kCovalentRadius = {
    0.50,                                                        // Bq
    0.31, 0.28,                                                  // H He
    1.28, 0.96, 0.84, 0.76, 0.71, 0.66, 0.57, 0.58,              // Li..Ne
    1.66, 1.41, 1.21, 1.11, 1.07, 1.05, 1.02, 1.06,              // Na..Ar
    2.03, 1.76, 1.70, 1.60, 1.53, 1.39, 1.39, 1.32, 1.26, 1.24,  // K..Ni
    1.32, 1.22, 1.22, 1.20, 1.19, 1.20, 1.20, 1.16,              // Cu..Kr
    2.20, 1.95, 1.90, 1.75, 1.64, 1.54, 1.47, 1.46, 1.42, 1.39,  // Rb..Pd
    1.45, 1.44, 1.42, 1.39, 1.39, 1.38, 1.39, 1.40,              // Ag..Xe
    2.44, 2.15, 2.07, 2.04, 2.03, 2.01, 1.99, 1.98, 1.98, 1.96,  // Cs..Gd
    1.94, 1.92, 1.92, 1.89, 1.90, 1.87, 1.87, 1.75, 1.70, 1.62,  // Tb..W
    1.51, 1.44, 1.41, 1.36, 1.36, 1.32, 1.45, 1.46, 1.48, 1.40,  // Re..Po
    1.50, 1.50,                                                  // At Rn
    2.60, 2.21, 2.15, 2.06, 2.00, 1.96, 1.90, 1.87, 1.80, 1.69,  // Fr..Cm
    1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50,  // Bk..Sg
    1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50, 1.50,  // Bh..Lv
    1.50, 1.50};                                                 // Ts Og

// Every table reaches oganesson: a missing entry would leave a zero at the end.
static_assert(kColour[kMaxZ] != 0 && kCovalentRadius[kMaxZ] > 0.0);

// Colour and radius of an atomic number outside 0..118.
inline constexpr std::uint32_t kUnknownColour = 0xFF1493;
inline constexpr double kUnknownRadius = 1.50;

// The diverging scale of the Mulliken charge: teal for negative, white for
// zero, brown for positive (ColorBrewer's BrBG), at -1, -1/2, 0, 1/2, 1 of
// the scale's end value; linear in sRGB between the stops, as an SVG
// gradient interpolates.  Neither end is near the red of oxygen or the blue
// of nitrogen, so a ring never reads as a neighbouring disc.
inline constexpr std::array<std::uint32_t, 5> kChargeStops = {0x01665E, 0x80CDC1, 0xFFFFFF,
                                                              0xDFC27D, 0x8C510A};

}  // namespace mv::svgtab
