dvar float x;
dexpr float e[i in 1..1000000000][j in 1..100] = i * x;
minimize x;
