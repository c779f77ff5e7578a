// Allotment planting (LP): area, water and volunteer hours, a minimum share of
// beans and a maximum share of potatoes in the planted area.

{string} Crops = ...;

float value[Crops] = ...;        // $ per m2
float water[Crops] = ...;        // litres per m2 over the season
float work[Crops] = ...;         // volunteer hours per m2

float area = ...;                // m2 available
float waterAvail = ...;
float workAvail = ...;
float minBeanShare = ...;
float maxPotatoShare = ...;

dvar float+ plant[Crops];        // m2 planted

dexpr float planted = sum(c in Crops) plant[c];

maximize harvestValue: sum(c in Crops) value[c] * plant[c];

subject to {
  land:   planted <= area;
  watering: sum(c in Crops) water[c] * plant[c] <= waterAvail;
  labour: sum(c in Crops) work[c] * plant[c] <= workAvail;
  beans:  plant["runner beans"] >= minBeanShare * planted;
  potatoes: plant["potatoes"] <= maxPotatoShare * planted;
}
