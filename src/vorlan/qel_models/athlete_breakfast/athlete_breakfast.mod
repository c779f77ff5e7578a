// Breakfast (integer): whole servings of four foods meeting protein and
// carbohydrate needs within a calorie cap, at least cost.

{string} Foods = ...;

float price[Foods] = ...;        // $ per serving
float protein[Foods] = ...;      // g per serving
float carbs[Foods] = ...;        // g per serving
float kcal[Foods] = ...;         // per serving
int maxServings[Foods] = ...;

float minProtein = ...;
float minCarbs = ...;
float maxKcal = ...;

dvar int+ servings[f in Foods] in 0..maxServings[f];

minimize cost: sum(f in Foods) price[f] * servings[f];

subject to {
  proteinNeed: sum(f in Foods) protein[f] * servings[f] >= minProtein;
  carbNeed:    sum(f in Foods) carbs[f] * servings[f] >= minCarbs;
  energyCap:   sum(f in Foods) kcal[f] * servings[f] <= maxKcal;
}
