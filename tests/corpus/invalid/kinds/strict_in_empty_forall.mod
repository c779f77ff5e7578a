{int} S = ...;
dvar float x[1..3];
minimize sum(i in 1..3) x[i];
subject to {
  forall(i in S) x[i] > 0;
}
