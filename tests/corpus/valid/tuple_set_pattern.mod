tuple Arc { string o; string d; float c; }
{Arc} Arcs = ...;
dvar float+ f[Arcs];
minimize sum(<o, d, c> in Arcs) c * f[<o, d, c>];
subject to { forall(<o, d, c> in Arcs : c > 1) f[<o, d, c>] >= 1; }
