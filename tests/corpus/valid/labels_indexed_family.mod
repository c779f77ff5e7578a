range R = 1..3;
constraint cap;
dvar float+ x[R];
subject to {
  cap: forall(i in R) x[i] <= i;
  forall(i in R) lim[i]: x[i] >= 0;
  forall(i, j in R : i < j) ord2[i, j]: x[i] <= x[j] + 1;
}
