{int} S = ...;
float c[1..3] = ...;
dvar int k;
dexpr float pick = sum(i in S) c[k];
minimize pick;
