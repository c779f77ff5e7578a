{string} P = ...;
float c[P] = ...;
dvar float+ x[P];
dexpr float cost[p in P] = c[p] * x[p];
dexpr float total = sum(p in P) cost[p];
minimize total;
subject to { total >= 10; }
