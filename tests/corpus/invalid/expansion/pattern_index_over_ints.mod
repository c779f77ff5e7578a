{int} Sizes = ...;
dvar float+ x[Sizes];
dexpr float scaled[<s, t> in Sizes] = s * x[s];
minimize sum(s in Sizes) scaled[<s, s>];
