int a[1..2] = [[1], [2]];
dvar float x;
minimize x;
