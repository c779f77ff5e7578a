range R = 1..4;
float w[i in R] = i * 0.5;
int sq[i in R][j in R] = i * j;
dvar float+ x[R];
minimize sum(i in R) (w[i] + sq[i][i]) * x[i];
