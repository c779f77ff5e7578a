// Diet problem: cheapest combination of foods meeting nutrient minimums.

{string} Foods = ...;
{string} Nutrients = ...;

float cost[Foods] = ...;                  // $ per serving
float maxServings[Foods] = ...;           // servings per day at most
float content[Foods][Nutrients] = ...;    // nutrient per serving
float minIntake[Nutrients] = ...;         // daily requirement

dvar float+ eat[f in Foods] in 0..maxServings[f];   // servings per day

minimize dailyCost: sum(f in Foods) cost[f] * eat[f];

subject to {
  forall(n in Nutrients)
    requirement: sum(f in Foods) content[f][n] * eat[f] >= minIntake[n];
}
