// A range's name as a variable's domain, and arrays and dexprs indexed over a tuple pattern.
tuple Arc { string orig; string dest; float cost; }
{Arc} Arcs = ...;
{string} Antennas = ...;
range Freqs = 1..4;
dvar int f[Antennas] in Freqs;
dvar float+ flow[Arcs] in 0..10;
float scaled[<i, j, c> in Arcs] = 2 * c;
dexpr float arcCost[<i, j, c> in Arcs] = c * flow[<i, j, c>];
minimize sum(a in Arcs) arcCost[a] + sum(a in Antennas) f[a];
subject to {
  forall(<i, j, c> in Arcs) flow[<i, j, c>] >= scaled[<i, j, c>] / 4;
}
assert scaled[<"a", "b", 3>] == 6;
