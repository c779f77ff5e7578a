// Fertilizer purchase (LP): nutrient requirements from three products with
// their label percentages, a handling limit, at least cost.

{string} Products = ...;
{string} Nutrients = ...;

float price[Products] = ...;                  // $ per kg
float percent[Products][Nutrients] = ...;     // label percentages
float need[Nutrients] = ...;                  // kg
float maxKg = ...;

dvar float+ buy[Products];

minimize cost: sum(p in Products) price[p] * buy[p];

subject to {
  forall(n in Nutrients)
    feed: sum(p in Products) percent[p][n] / 100 * buy[p] >= need[n];
  spreader: sum(p in Products) buy[p] <= maxKg;
}
