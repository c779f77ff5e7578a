// Bike assembly (integer): two models sharing assembly and test-bench hours,
// a battery limit, and e-bikes at least a given share of all bikes.

float profitE = ...;        // $ per e-bike
float profitCity = ...;     // $ per city bike
float assemblyE = ...;      // hours per e-bike
float assemblyCity = ...;
float testE = ...;          // test-bench hours per e-bike
float testCity = ...;
float assemblyHours = ...;
float testHours = ...;
int batteries = ...;        // one per e-bike
int oneIn = ...;            // at least one bike in oneIn is an e-bike

dvar int+ eBikes;
dvar int+ cityBikes;

maximize profit: profitE * eBikes + profitCity * cityBikes;

subject to {
  assembly: assemblyE * eBikes + assemblyCity * cityBikes <= assemblyHours;
  testing:  testE * eBikes + testCity * cityBikes <= testHours;
  batteryLimit: eBikes <= batteries;
  specialist: oneIn * eBikes >= eBikes + cityBikes;
}
