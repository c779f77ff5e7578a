dvar float x;
dvar float y;
dexpr float area = x * y;
minimize x;
