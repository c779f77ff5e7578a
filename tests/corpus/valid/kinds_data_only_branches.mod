{int} S = ...;
int n = ...;
dvar float+ x;
dvar float+ y;
dexpr float both = x + y;
minimize (n > 5 ? 2 : 3) * both + sum(i in S) i * x;
subject to {
  if (n > 100) { x <= n * 2; } else { x + y >= 1; }
  forall(i in S : i * i < n) x >= i;
  both <= 10;
}
