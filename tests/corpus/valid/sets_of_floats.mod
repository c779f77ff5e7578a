{float} F = ...;
dvar float+ x[F];
minimize sum(f in F) f * x[f];
subject to { x[1] >= 2; }
