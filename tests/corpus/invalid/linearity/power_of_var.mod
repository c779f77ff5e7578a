{string} P = ...;
dvar float+ x[P];
minimize z: sum(p in P) x[p] ^ 2;
subject to {
  forall(p in P) x[p] >= 1;
}
