dvar float x[1..100000][1..1000];
