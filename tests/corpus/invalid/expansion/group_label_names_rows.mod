int n = ...;
dvar float+ x;
minimize x;
subject to {
  budget: { x >= 0; n >= 5; }
}
