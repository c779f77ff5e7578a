dvar float+ x;
minimize lexicographic(x);
