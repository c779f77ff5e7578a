float v = [1, 2];
dvar float x;
minimize x;
