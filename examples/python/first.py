import mirvante
r = mirvante.analyse("examples/water/Test.FChk")
print(r.bond_orders, r.charges, r.bonds, sep="\n")
