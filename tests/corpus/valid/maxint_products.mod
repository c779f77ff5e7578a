{string} P = ...;
int cap[P] = ...;
int demand[P] = ...;
int load[p in P] = cap[p] * demand[p];
int unlimited = maxint * 2;
dvar float+ x[P];
maximize sum(p in P) x[p];
subject to {
  forall(p in P) x[p] <= load[p] / 1000000;
}
