range R = 1..1000000000;
dvar float x[R][R][R];
minimize x[1][1][1];
