dvar int+ k;
dvar boolean b;
dvar int m in -3..3;
minimize k + b - m;
subject to { k + b >= 1; }
