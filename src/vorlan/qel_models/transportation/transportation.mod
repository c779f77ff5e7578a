// Transportation: ship from warehouses to stores at least cost, meeting
// every store's demand without exceeding warehouse supply.

{string} Warehouses = ...;
{string} Stores = ...;

float supply[Warehouses] = ...;
float demand[Stores] = ...;
float cost[Warehouses][Stores] = ...;     // $ per pallet

assert enoughSupply: sum(w in Warehouses) supply[w] >= sum(s in Stores) demand[s];

dvar float+ ship[Warehouses][Stores];

minimize totalCost: sum(w in Warehouses, s in Stores) cost[w][s] * ship[w][s];

subject to {
  forall(w in Warehouses)
    supplyLimit: sum(s in Stores) ship[w][s] <= supply[w];
  forall(s in Stores)
    meetDemand: sum(w in Warehouses) ship[w][s] == demand[s];
}
