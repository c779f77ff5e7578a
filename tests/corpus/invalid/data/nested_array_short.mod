range R = 1..3;
{string} P = ...;
float c[P][R] = ...;
int n = ...;
dvar float+ x[P];
minimize z: sum(p in P) c[p][1] * x[p];
subject to {
  forall(p in P) lb: x[p] >= 1;
}
