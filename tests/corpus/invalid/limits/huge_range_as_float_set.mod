{float} S = 1..maxint;
dvar float x;
minimize x;
