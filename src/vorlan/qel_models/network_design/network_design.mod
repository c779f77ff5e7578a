// Fixed-charge network design: pick which links to build (fixed cost) and route
// flow over built links (variable cost, capacity) to meet demands.

{string} Nodes = ...;
tuple Link { key string orig; key string dest; float buildCost; float unitCost; float cap; }
{Link} Links with orig in Nodes = ...;
float demand[Nodes] = ...;    // traffic each node consumes (negative: net source)

assert balancedDemand: sum(n in Nodes) demand[n] == 0;

dvar boolean build[Links];
dvar float+ flow[Links];

dexpr float construction = sum(l in Links) l.buildCost * build[l];
dexpr float routing = sum(l in Links) l.unitCost * flow[l];

minimize totalCost: construction + routing;

subject to {
  forall(n in Nodes)
    balance: sum(l in Links : l.dest == n) flow[l] - sum(l in Links : l.orig == n) flow[l] == demand[n];
  // Flow only on built links, up to their capacity.
  forall(l in Links)
    capacity: flow[l] <= l.cap * build[l];
}
