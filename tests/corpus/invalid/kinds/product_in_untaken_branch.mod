int n = ...;
dvar float x;
dvar float y;
minimize x;
subject to {
  if (n > 100) {
    x * y <= 3;
  }
  x >= 1;
}
