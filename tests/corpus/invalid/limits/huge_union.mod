{int} S = (1..maxint) union {1, 2};
dvar float x;
minimize x;
