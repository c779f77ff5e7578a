{string} N = ...;
tuple L { string f; string t; }
{L} Ls with f in N = ...;
dvar float+ x[Ls];
minimize sum(l in Ls) x[l];
