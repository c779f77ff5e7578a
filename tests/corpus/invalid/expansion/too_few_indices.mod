range R = 1..2;
{string} P = ...;
float c[P] = ...;
int n = ...;
dvar float+ x[P][R];
minimize z: sum(p in P) c[p] * x[p][1];
subject to {
  forall(p in P) lb: x[p] >= 1;
}
