range R = 1..3;
float a[R] = ...;
assert positive: forall(i in R) a[i] > 0;
assert sum(i in R) a[i] == 6;
assert 2 in R && 4 not in R;
dvar float+ x;
minimize x;
