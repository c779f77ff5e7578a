float a[1..100000][1..100000][1..100000][1..100000] = ...;
dvar float x;
minimize x;
