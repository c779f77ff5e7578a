// Goal programming with three priorities: a deviation variable per goal (shortfall below
// the collection target, excess over the volunteer pledge), then cost; the goals are
// optimized lexicographically, each one kept at its optimum while the next is optimized.

{string} Venues = ...;
float units[Venues] = ...;        // units of blood collected per drive
float hours[Venues] = ...;        // volunteer hours per drive
float cost[Venues] = ...;         // $ per drive
int maxDrives[Venues] = ...;
float targetUnits = ...;
float pledgedHours = ...;

dvar int drives[v in Venues] in 0..maxDrives[v];
dvar float+ shortfall;            // units below the target
dvar float+ extraHours;           // volunteer hours above the pledge

dexpr float spend = sum(v in Venues) cost[v] * drives[v];

minimize goals: lexicographic(shortfall, extraHours, spend);

subject to {
  collection: sum(v in Venues) units[v] * drives[v] + shortfall >= targetUnits;
  volunteers: sum(v in Venues) hours[v] * drives[v] - extraHours <= pledgedHours;
}
