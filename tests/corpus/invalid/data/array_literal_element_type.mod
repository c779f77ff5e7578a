int a[1..2] = [1, 2.5];
dvar float x;
minimize x;
