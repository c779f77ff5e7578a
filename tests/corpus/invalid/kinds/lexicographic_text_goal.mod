dvar float+ x;
string unit = "kg";
minimize lexicographic(x, unit);
