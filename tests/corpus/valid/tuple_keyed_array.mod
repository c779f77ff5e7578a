tuple P2 { string a; int b; }
{P2} S = ...;
float w[S] = ...;
dvar float+ x[S];
minimize sum(s in S) w[s] * x[s];
