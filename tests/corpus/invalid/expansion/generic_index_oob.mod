{string} P = ...;
float c[P] = ...;
int n = ...;
range R = 1..n;
float w[i in R] = i;
float v = w[n + 1];
dvar float+ x[P];
minimize z: sum(p in P) c[p] * x[p];
subject to {
  forall(p in P) lb: x[p] >= 1;
}
