{string} A = ...;
range B = 1..2;
float d[A, B] = ...;
dvar float+ x[A][B];
minimize sum(a in A, b in B) d[a, b] * x[a][b];
subject to { forall(a in A, b in B) x[a, b] >= 1; }
