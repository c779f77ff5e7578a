// Bird seed (LP): a 50 kg sack from three seeds with fat and protein minimums
// and a cap on sunflower seed, at least cost.

{string} Seeds = ...;

float price[Seeds] = ...;      // $ per kg
float fat[Seeds] = ...;        // fraction
float protein[Seeds] = ...;    // fraction
float sackKg = ...;
float minFat = ...;
float minProtein = ...;
float maxSunflower = ...;      // fraction of the sack

dvar float+ kg[Seeds];

minimize sackCost: sum(s in Seeds) price[s] * kg[s];

subject to {
  sack: sum(s in Seeds) kg[s] == sackKg;
  fats: sum(s in Seeds) fat[s] * kg[s] >= minFat * sackKg;
  proteins: sum(s in Seeds) protein[s] * kg[s] >= minProtein * sackKg;
  hulls: kg["sunflower"] <= maxSunflower * sackKg;
}
