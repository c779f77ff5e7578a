// Coffee blend (LP): weighted-average quality scores, a stock limit and a share
// cap, at least cost.

{string} Coffees = ...;

float price[Coffees] = ...;      // $ per kg
float body[Coffees] = ...;       // score 1..10
float acidity[Coffees] = ...;    // score 1..10
float stock[Coffees] = ...;      // kg available
float blendKg = ...;
float minBody = ...;
float minAcidity = ...;
float maxRobustaShare = ...;

dvar float+ kg[c in Coffees] in 0..stock[c];

minimize cost: sum(c in Coffees) price[c] * kg[c];

subject to {
  total: sum(c in Coffees) kg[c] == blendKg;
  fullBody: sum(c in Coffees) body[c] * kg[c] >= minBody * blendKg;
  bright:   sum(c in Coffees) acidity[c] * kg[c] >= minAcidity * blendKg;
  robusta:  kg["Vietnam robusta"] <= maxRobustaShare * blendKg;
}
