range R = 1..3;
{string} P = ...;
float c[P] = ...;
int n = ...;
dvar float+ x[P];
dvar float y[R];
minimize z: sum(p in P) c[p] * x[p];
subject to {
  forall(p in P) lb: x[p] >= 1;
  forall(t in R) y[t+1] >= 0;
}
