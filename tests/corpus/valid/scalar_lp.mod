dvar float x;
dvar float y;
maximize obj: 3*x + 2*y;
subject to {
  c1: x + y <= 4;
  c2: x + 3*y <= 6;
  x >= 0; y >= 0;
}
