// Visitor transport (integer): seats per run and runs per evening for two vehicle
// types, an emission cap and a driver limit, at least cost.

int visitors = ...;
int shuttleSeats = ...;   int coachSeats = ...;
int shuttleRuns = ...;    int coachRuns = ...;      // runs per vehicle per evening
float shuttleCost = ...;  float coachCost = ...;    // $ per vehicle per evening
float coachCO2 = ...;     // kg per coach run
float maxCO2 = ...;       // kg per evening
int drivers = ...;

dvar int+ shuttles;
dvar int+ coaches;

minimize hireCost: shuttleCost * shuttles + coachCost * coaches;

subject to {
  seats: shuttleSeats * shuttleRuns * shuttles + coachSeats * coachRuns * coaches >= visitors;
  emissions: coachCO2 * coachRuns * coaches <= maxCO2;
  driverLimit: shuttles + coaches <= drivers;
}
