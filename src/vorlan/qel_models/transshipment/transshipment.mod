// Transshipment: route goods from factories through distribution centers
// to customers along capacitated arcs at least cost.

tuple Arc {
  key string orig;
  key string dest;
  float cost;       // $ per unit
  float cap;        // units
}

{string} Nodes = ...;
{Arc} Arcs with orig in Nodes = ...;
// Net supply: positive at factories, negative (demand) at customers, 0 at depots.
float netSupply[Nodes] = ...;

dvar float+ flow[a in Arcs] in 0..a.cap;

minimize shippingCost: sum(a in Arcs) a.cost * flow[a];

subject to {
  // What leaves a node minus what enters it cannot exceed its net supply:
  // factories ship at most their capacity, customers receive at least their demand.
  forall(n in Nodes)
    balance: sum(a in Arcs : a.orig == n) flow[a]
           - sum(a in Arcs : a.dest == n) flow[a] <= netSupply[n];
}
