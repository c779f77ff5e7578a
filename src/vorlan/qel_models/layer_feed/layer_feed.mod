// Layer feed (LP): one tonne from three ingredients with protein and calcium
// requirements, at least cost.

float cornPrice = ...;   float soyPrice = ...;     float limePrice = ...;    // $ per tonne
float cornProtein = ...;   float soyProtein = ...;   float limeProtein = ...;
float cornCalcium = ...;   float soyCalcium = ...;   float limeCalcium = ...;
float minProtein = ...;
float minCalcium = ...;
float maxCalcium = ...;

dvar float+ cornT;       // tonnes of each in one tonne of feed
dvar float+ soyT;
dvar float+ limeT;

minimize cost: cornPrice * cornT + soyPrice * soyT + limePrice * limeT;

subject to {
  oneTonne: cornT + soyT + limeT == 1;
  protein:  cornProtein * cornT + soyProtein * soyT + limeProtein * limeT >= minProtein;
  calcium:  minCalcium <= cornCalcium * cornT + soyCalcium * soyT + limeCalcium * limeT <= maxCalcium;
}
