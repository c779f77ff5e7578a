// Pottery production for a fair: whole pieces, shared wheel time, clay and kiln
// space, a bowls-to-mugs ratio and a minimum number of vases.

{string} Pieces = ...;

float profit[Pieces] = ...;       // $ per piece
float wheelHours[Pieces] = ...;   // hours at the wheel per piece
float clayKg[Pieces] = ...;       // kg of clay per piece
int kilnSlots[Pieces] = ...;      // kiln shelf slots per piece

float wheelAvail = ...;
float clayAvail = ...;
int slotsAvail = ...;
float maxBowlsPerMug = ...;       // bowls may be at most this multiple of mugs
int minVases = ...;

dvar int+ make[Pieces];

maximize totalProfit: sum(p in Pieces) profit[p] * make[p];

subject to {
  wheel: sum(p in Pieces) wheelHours[p] * make[p] <= wheelAvail;
  clay:  sum(p in Pieces) clayKg[p] * make[p] <= clayAvail;
  kiln:  sum(p in Pieces) kilnSlots[p] * make[p] <= slotsAvail;
  bowlsWithMugs: make["bowl"] <= maxBowlsPerMug * make["mug"];
  vases: make["vase"] >= minVases;
}
