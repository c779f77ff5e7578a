{string} P = ...;
dvar float x[P];
minimize sum(p in P) x[p];
subject to {
  forall(p in P) abs(x[p]) <= 4;
}
