{string} P = ...;
float c[P] = ...;
int n = ...;
dvar float+ x[P];
minimize z: P;
subject to {
  forall(p in P) lb: x[p] >= 1;
}
