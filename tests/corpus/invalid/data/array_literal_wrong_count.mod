int a[1..3] = [1, 2];
dvar float x;
minimize x;
