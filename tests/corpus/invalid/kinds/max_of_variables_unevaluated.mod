{int} S = ...;
dvar float x[1..3];
minimize sum(i in S) max(j in 1..3) x[j];
