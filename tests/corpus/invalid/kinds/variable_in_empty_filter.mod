{string} P = ...;
dvar float+ x[P];
minimize sum(p in P) x[p];
subject to {
  forall(p in P : x[p] >= 1) x[p] <= 3;
}
