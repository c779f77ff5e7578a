// Capacitated facility location: open warehouses (fixed cost) and assign
// regional demand to them (shipping cost), minimizing total cost.

{string} Warehouses = ...;
{string} Regions = ...;

float fixedCost[Warehouses] = ...;
float capacity[Warehouses] = ...;
float demand[Regions] = ...;
float shipCost[Warehouses][Regions] = ...;   // $ per ton

dvar boolean open[Warehouses];
dvar float+ ship[Warehouses][Regions];       // tons

dexpr float openingCost = sum(w in Warehouses) fixedCost[w] * open[w];
dexpr float transportCost = sum(w in Warehouses, r in Regions) shipCost[w][r] * ship[w][r];

minimize totalCost: openingCost + transportCost;

subject to {
  forall(r in Regions)
    serve: sum(w in Warehouses) ship[w][r] == demand[r];
  // A warehouse ships only if open, and never beyond its capacity.
  forall(w in Warehouses)
    cap: sum(r in Regions) ship[w][r] <= capacity[w] * open[w];
  // Tightening: no single flow exceeds the region's demand when open.
  forall(w in Warehouses, r in Regions)
    link: ship[w][r] <= demand[r] * open[w];
}
