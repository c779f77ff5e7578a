// Trek snacks (LP): energy and protein floors, a sugar cap and minimum amounts
// for variety, with the least total weight.

{string} Snacks = ...;

float kcal[Snacks] = ...;       // per 100 g
float protein[Snacks] = ...;    // g per 100 g
float sugar[Snacks] = ...;      // g per 100 g
float minGrams[Snacks] = ...;

float minKcal = ...;
float minProtein = ...;
float maxSugar = ...;

dvar float+ grams[s in Snacks] in minGrams[s]..infinity;

minimize packWeight: sum(s in Snacks) grams[s];

subject to {
  energy:   sum(s in Snacks) kcal[s] / 100 * grams[s] >= minKcal;
  proteins: sum(s in Snacks) protein[s] / 100 * grams[s] >= minProtein;
  sweets:   sum(s in Snacks) sugar[s] / 100 * grams[s] <= maxSugar;
}
