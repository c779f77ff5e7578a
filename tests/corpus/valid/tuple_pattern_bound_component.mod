tuple E { int i; int j; }
{E} Es = ...;
range N = 1..3;
dvar float+ y[Es];
subject to { forall(i in N) sum(<i, j> in Es) y[<i, j>] <= 1; }
