dvar float+ x;
subject to { x >= 1; }
int later = 3;
minimize x * later;
