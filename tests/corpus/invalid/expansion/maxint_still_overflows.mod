int big = maxint * maxint * maxint;
dvar float x;
minimize x;
