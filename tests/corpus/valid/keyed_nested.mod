{string} A = ...;
{int} B = ...;
float d[A][B] = ...;
dvar float+ x[A];
minimize sum(a in A) d[a][first(B)] * x[a];
