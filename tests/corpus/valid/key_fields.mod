tuple T { key int id; string n; }
{T} S = ...;
dvar float+ x[S];
minimize sum(s in S) s.id * x[s];
