// Forklift fleet (integer): throughput target, a charging-point limit and at
// most one diesel per two electric forklifts, at least purchase cost.

float electricPrice = ...;   float dieselPrice = ...;
float electricRate = ...;    float dieselRate = ...;    // pallets per hour
float requiredRate = ...;
int chargingPoints = ...;

dvar int+ electric in 0..chargingPoints;
dvar int+ diesel;

minimize purchase: electricPrice * electric + dieselPrice * diesel;

subject to {
  throughput: electricRate * electric + dieselRate * diesel >= requiredRate;
  airQuality: 2 * diesel <= electric;
}
