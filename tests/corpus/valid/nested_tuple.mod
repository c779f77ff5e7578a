tuple Pt { int x; int y; }
tuple Seg { Pt a; Pt b; }
{Seg} Segs = ...;
int len[s in Segs] = abs(s.a.x - s.b.x) + abs(s.a.y - s.b.y);
dvar float+ u[Segs];
minimize sum(s in Segs) len[s] * u[s];
