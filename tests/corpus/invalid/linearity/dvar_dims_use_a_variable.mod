dvar float x;
dexpr float t = x;
dvar float y[1..t];
minimize x;
