{string} P = {"a", "b"};
float g[1..2][P] = [[1, 2], 3];
dvar float x;
minimize x;
