// Multi-period production planning with inventory: meet monthly demand from
// production and stock, within welding hours and storage space, at least cost.

{string} Products = ...;
int nbPeriods = ...;
range Periods = 1..nbPeriods;

float demand[Products][Periods] = ...;
float hoursPerUnit[Products] = ...;
float unitCost[Products] = ...;
float holdCost[Products] = ...;            // $ per unit carried to the next period
float hoursAvail[Periods] = ...;
float storageCap = ...;
float initStock[Products] = ...;
float finalStock[Products] = ...;          // minimum stock after the last period

dvar float+ make[Products][Periods];
dvar float+ stock[Products][0..nbPeriods]; // stock[p][0] is the starting stock

dexpr float productionCost = sum(p in Products, t in Periods) unitCost[p] * make[p][t];
dexpr float holdingCost = sum(p in Products, t in Periods) holdCost[p] * stock[p][t];

minimize totalCost: productionCost + holdingCost;

subject to {
  forall(p in Products) {
    start: stock[p][0] == initStock[p];
    atEnd: stock[p][nbPeriods] >= finalStock[p];
  }
  // Inventory balance: what we had plus what we make, less demand, is carried over.
  forall(p in Products, t in Periods)
    balance: stock[p][t - 1] + make[p][t] - demand[p][t] == stock[p][t];
  forall(t in Periods) {
    welding: sum(p in Products) hoursPerUnit[p] * make[p][t] <= hoursAvail[t];
    storage: sum(p in Products) stock[p][t] <= storageCap;
  }
}
