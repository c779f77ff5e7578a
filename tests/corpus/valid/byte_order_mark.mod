int n = ...;
dvar float+ x;
maximize x;
subject to { x <= n; }
