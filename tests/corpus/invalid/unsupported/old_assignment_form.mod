{string} P = ...;
float c[P] = ...;
int n = ...;
dvar float+ x[P];
minimize z: sum(p in P) c[p] * x[p];
subject to {
  lb = forall(p in P) x[p] >= 1;
}
