{string} P = ...;
float c[P] = ...;
int n = ...;
int big = 9223372036854775807 + n;
dvar float+ x[P];
minimize z: sum(p in P) c[p] * x[p];
subject to {
  forall(p in P) lb: x[p] >= 1;
}
