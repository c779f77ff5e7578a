int n = ...;
dvar float+ x[1..2];
subject to {
  if (n > 1) { x[1] == x[2]; } else { x[1] >= 1; };
  { x[1] <= 10; x[2] <= 10; }
  if (n == 0) x[1] >= 100;
}
