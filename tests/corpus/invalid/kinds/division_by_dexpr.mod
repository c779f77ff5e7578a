{string} P = ...;
dvar float+ x[P];
dexpr float total = sum(p in P) x[p];
minimize sum(p in P) x[p] / total;
