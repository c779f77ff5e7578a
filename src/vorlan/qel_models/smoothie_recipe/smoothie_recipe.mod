// Smoothie recipe (LP): four ingredients in grams, nutrient floors and a sugar
// cap, weight bounds and ingredient limits, at least cost.

{string} Ingredients = ...;
{string} Nutrients = ...;

float costPer100g[Ingredients] = ...;
float per100g[Ingredients][Nutrients] = ...;   // grams of nutrient per 100 g
float minGrams[Ingredients] = ...;
float maxGrams[Ingredients] = ...;
float minNutrient[Nutrients] = ...;            // grams
float maxNutrient[Nutrients] = ...;            // grams
float minWeight = ...;
float maxWeight = ...;

dvar float+ grams[i in Ingredients] in minGrams[i]..maxGrams[i];

minimize cost: sum(i in Ingredients) costPer100g[i] / 100 * grams[i];

subject to {
  weight: minWeight <= sum(i in Ingredients) grams[i] <= maxWeight;
  forall(n in Nutrients)
    nutrient: minNutrient[n] <= sum(i in Ingredients) per100g[i][n] / 100 * grams[i] <= maxNutrient[n];
}
