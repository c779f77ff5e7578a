// Moving boxes (integer): trips of two vehicle types, trip limits per fleet and
// at the loading dock, and enough capacity for every box, at least cost.

int boxes = ...;
int vanBoxes = ...;      int truckBoxes = ...;     // boxes per trip
float vanCost = ...;     float truckCost = ...;    // $ per trip
int vans = ...;          int trucks = ...;         // vehicles available
int vanTripsEach = ...;  int truckTripsEach = ...; // trips per vehicle per day
int dockTrips = ...;

dvar int+ vanTrips in 0..vans * vanTripsEach;
dvar int+ truckTrips in 0..trucks * truckTripsEach;

minimize cost: vanCost * vanTrips + truckCost * truckTrips;

subject to {
  moveAll: vanBoxes * vanTrips + truckBoxes * truckTrips >= boxes;
  dock:    vanTrips + truckTrips <= dockTrips;
}
