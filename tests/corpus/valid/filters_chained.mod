int T = 4;
range R = 1..T;
dvar float+ x[R];
subject to {
  forall(t in R, k in 1..2 : 1 <= t - k <= T) x[t] >= x[t - k];
  forall(t in R : t + 1 in R) x[t] <= x[t + 1];
}
