int n = 0;
range R = 1..n;
dvar float+ x[R];
minimize sum(t in R) x[t];
