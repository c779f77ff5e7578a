// Product mix: weekly production plan that maximizes profit within
// resource capacities and market limits (continuous LP).

{string} Products = ...;
{string} Resources = ...;

float profit[Products] = ...;            // $ per unit
float use[Resources][Products] = ...;    // resource consumed per unit made
float available[Resources] = ...;        // capacity of each resource this week
float maxSales[Products] = ...;          // market limit per product

// Units made; the market limit is a variable bound.
dvar float+ make[p in Products] in 0..maxSales[p];

dexpr float totalProfit = sum(p in Products) profit[p] * make[p];

maximize weeklyProfit: totalProfit;

subject to {
  // Do not use more of a resource than is available.
  forall(r in Resources)
    capacity: sum(p in Products) use[r][p] * make[p] <= available[r];
}
