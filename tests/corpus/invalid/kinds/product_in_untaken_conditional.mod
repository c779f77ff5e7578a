int n = ...;
dvar float x;
dvar float y;
minimize n > 5 ? x * y : x;
