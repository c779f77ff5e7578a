range R = 1..2;
{int} S[R] = ...;
dvar float+ x[R][1..3];
subject to { forall(r in R, k in S[r]) x[r][k] >= 1; }
