{int} S = ...;
dvar float x;
dvar float y;
maximize x + sum(i in S) x * y;
subject to { x <= 1; }
