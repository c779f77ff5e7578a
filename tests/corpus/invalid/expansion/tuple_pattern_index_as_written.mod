tuple Nutrient { string name; int lo; int hi; }
{Nutrient} N = ...;
dvar float+ x;
minimize x;
subject to {
  forall(<name, lo, hi> in N) lo <= hi - 1000;
  x >= 0;
}
