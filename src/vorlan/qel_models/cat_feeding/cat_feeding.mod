// Two-food diet (LP): grams of wet and dry food meeting energy and protein
// needs, a fat cap and a minimum of wet food, at least cost.

float wetCost = ...;     float dryCost = ...;      // $ per 100 g
float wetKcal = ...;     float dryKcal = ...;      // per 100 g
float wetProtein = ...;  float dryProtein = ...;   // g per 100 g
float wetFat = ...;      float dryFat = ...;       // g per 100 g
float minKcal = ...;
float minProtein = ...;
float maxFat = ...;
float minWet = ...;      // g

dvar float+ wet;         // grams per day
dvar float+ dry;

minimize dailyCost: (wetCost * wet + dryCost * dry) / 100;

subject to {
  energy:  wetKcal * wet + dryKcal * dry >= 100 * minKcal;
  protein: wetProtein * wet + dryProtein * dry >= 100 * minProtein;
  fat:     wetFat * wet + dryFat * dry <= 100 * maxFat;
  hydration: wet >= minWet;
}
