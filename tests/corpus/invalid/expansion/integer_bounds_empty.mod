{string} P = ...;
float c[P] = ...;
int n = ...;
dvar float+ x[P];
dvar int k in 0.2..0.8;
minimize z: sum(p in P) c[p] * x[p];
subject to {
  forall(p in P) lb: x[p] >= 1;
}
