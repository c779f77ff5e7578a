tuple Arc { string orig; string dest; float cost; }
{Arc} A = ...;
dvar float+ f[A];
minimize t: sum(a in A) a.cost * f[a];
subject to { forall(a in A) f[a] >= 1; }
