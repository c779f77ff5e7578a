// Truck hire (integer): weekly capacity of two truck sizes, a limit on large
// trucks and on trucks in total, at least cost.

float tonnes = ...;
float smallLoad = ...;    float largeLoad = ...;     // tonnes per load
int smallLoads = ...;     int largeLoads = ...;      // loads per truck per week
float smallCost = ...;    float largeCost = ...;     // $ per truck per week
int maxLarge = ...;
int parking = ...;

dvar int+ small;
dvar int+ large in 0..maxLarge;

minimize cost: smallCost * small + largeCost * large;

subject to {
  delivery: smallLoad * smallLoads * small + largeLoad * largeLoads * large >= tonnes;
  site:     small + large <= parking;
}
