dvar float+ x;
minimize x;
subject to {
  x >= 1;
}
