// Ferry crossings (integer): passengers and cars per crossing for two vessels,
// crossing limits, at least operating cost.

int passengers = ...;
int cars = ...;
int ferryPassengers = ...;  int ferryCars = ...;   float ferryCost = ...;  int ferryMax = ...;
int boatPassengers = ...;   float boatCost = ...;  int boatMax = ...;

dvar int+ ferryTrips in 0..ferryMax;
dvar int+ boatTrips in 0..boatMax;

minimize operatingCost: ferryCost * ferryTrips + boatCost * boatTrips;

subject to {
  people:   ferryPassengers * ferryTrips + boatPassengers * boatTrips >= passengers;
  vehicles: ferryCars * ferryTrips >= cars;
}
