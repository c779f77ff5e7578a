// Delivery staffing (integer): parcels per bike rider and per van driver, a
// bike-only zone and a van limit, at least daily cost.

int parcels = ...;
int oldTownParcels = ...;    // parcels only bikes can deliver
int bikeRate = ...;          int vanRate = ...;      // parcels per day
float bikeCost = ...;        float vanCost = ...;    // $ per day
int vans = ...;

dvar int+ riders;
dvar int+ drivers in 0..vans;

minimize dailyCost: bikeCost * riders + vanCost * drivers;

subject to {
  allParcels: bikeRate * riders + vanRate * drivers >= parcels;
  oldTown:    bikeRate * riders >= oldTownParcels;
}
