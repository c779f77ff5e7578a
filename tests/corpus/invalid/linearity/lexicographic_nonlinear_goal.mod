dvar float+ x;
dvar float+ y;
dexpr float area = x * y;
maximize lexicographic(x + y, area);
subject to { x + y <= 4; }
