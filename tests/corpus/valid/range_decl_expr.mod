int T = ...;
range R = 0..T-1;
dvar float+ x[R];
minimize sum(t in R) x[t];
subject to { forall(t in R) x[t] >= t; }
