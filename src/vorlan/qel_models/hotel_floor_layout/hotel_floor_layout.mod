// Hotel floor refit (integer): floor area and fit-out budget, at least a share of
// accessible rooms and a minimum number of family rooms.

{string} RoomTypes = ...;

float areaM2[RoomTypes] = ...;
float fitOut[RoomTypes] = ...;     // $ per room
float earning[RoomTypes] = ...;    // $ per room per year

float floorArea = ...;
float budget = ...;
float minAccessibleShare = ...;
int minFamily = ...;

dvar int+ rooms[RoomTypes];

maximize yearlyEarnings: sum(r in RoomTypes) earning[r] * rooms[r];

subject to {
  space:  sum(r in RoomTypes) areaM2[r] * rooms[r] <= floorArea;
  refit:  sum(r in RoomTypes) fitOut[r] * rooms[r] <= budget;
  access: rooms["accessible"] >= minAccessibleShare * sum(r in RoomTypes) rooms[r];
  family: rooms["family"] >= minFamily;
}
