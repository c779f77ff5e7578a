int n = ;
dvar float x;
minimize x;
