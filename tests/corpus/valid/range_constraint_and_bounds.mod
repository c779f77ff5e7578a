{string} P = ...;
float cap[P] = ...;
dvar float s[p in P] in 0..cap[p];
maximize sum(p in P) s[p];
subject to { forall(p in P) 1 <= s[p] <= cap[p]; 10 >= s["a"] >= 0; }
