{string} P = ...;
float c[P] = ...;
int n = ...;
dvar float+ x[P];
minimize z: sum(p in P) c[x[p]];
subject to {
  forall(p in P) lb: x[p] >= 1;
}
