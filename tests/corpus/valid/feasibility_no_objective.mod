dvar float+ x;
subject to { x >= 1; }
