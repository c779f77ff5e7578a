tuple Nutrient { string name; int lo; int hi; }
{Nutrient} N = ...;
dvar float+ x;
minimize x;
subject to {
  forall(n in N) bounds: n.lo <= n.hi - 1000;
  x >= 0;
}
