{string} P = ...;
float c[P] = ...;
int n = ...;
float w[P] = ...;
dvar float+ x[P];
minimize z: sum(p in P) c[p] * x[p];
subject to {
  forall(p in P) lb: x[p] >= 1;
}
