{string} P = ...;
float cap[P] = ...;
dvar float+ x[P];
dvar float+ y[P];
maximize sum(p in P) (x[p] + y[p]);
subject to {
  capacity: {
    sum(p in P) x[p] <= 10;
    sum(p in P) y[p] <= 8;
  };
  forall(p in P) perItem: {
    x[p] <= cap[p];
    y[p] <= cap[p] / 2;
  }
  forall(p in P) { limit[p]: { x[p] + y[p] <= 6; } }
}
