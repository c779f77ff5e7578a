// Pet food blend (LP): a 100 kg batch meeting protein, fat and fibre minimums
// with a cap on one ingredient, at least cost.

{string} Ingredients = ...;
{string} Nutrients = ...;

float price[Ingredients] = ...;                 // $ per kg
float share[Ingredients][Nutrients] = ...;      // fraction of each kg
float minShare[Nutrients] = ...;                // fraction of the batch
float batchKg = ...;
float maxPea = ...;                             // fraction of the batch

dvar float+ kg[Ingredients];

minimize batchCost: sum(i in Ingredients) price[i] * kg[i];

subject to {
  batch: sum(i in Ingredients) kg[i] == batchKg;
  forall(n in Nutrients)
    content: sum(i in Ingredients) share[i][n] * kg[i] >= minShare[n] * batchKg;
  palatable: kg["pea protein"] <= maxPea * batchKg;
}
