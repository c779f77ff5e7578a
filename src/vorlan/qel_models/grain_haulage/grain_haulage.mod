// Grain shipment (integer): wagon and truck trips with their capacities and trip
// limits, enough for all the wheat, at least cost.

float tonnes = ...;
float wagonTonnes = ...;   float truckTonnes = ...;   // per trip
float wagonCost = ...;     float truckCost = ...;     // $ per trip
int maxWagonTrips = ...;   int maxTruckTrips = ...;

dvar int+ wagonTrips in 0..maxWagonTrips;
dvar int+ truckTrips in 0..maxTruckTrips;

minimize cost: wagonCost * wagonTrips + truckCost * truckTrips;

subject to {
  shipAll: wagonTonnes * wagonTrips + truckTonnes * truckTrips >= tonnes;
}
