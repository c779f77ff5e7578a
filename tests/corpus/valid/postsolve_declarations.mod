range R = 1..2;
dvar float+ x[R];
minimize sum(i in R) x[i];
subject to { forall(i in R) x[i] >= 1; }
tuple Sol { int i; float v; }
{Sol} sol = { <i, x[i]> | i in R };
float total = sum(i in R) x[i];
