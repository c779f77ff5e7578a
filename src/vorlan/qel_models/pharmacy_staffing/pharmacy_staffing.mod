// Pharmacy roster (integer): weekly hours from full-time and part-time staff, a
// minimum share of full-time hours and a minimum number of part-timers.

float hoursNeeded = ...;
float fullHours = ...;     float partHours = ...;     // per person per week
float fullCost = ...;      float partCost = ...;      // $ per person per week
float minFullShare = ...;  // of the hours worked
int minPart = ...;

dvar int+ full;
dvar int+ part;

minimize weeklyCost: fullCost * full + partCost * part;

subject to {
  hours:    fullHours * full + partHours * part >= hoursNeeded;
  licence:  fullHours * full >= minFullShare * (fullHours * full + partHours * part);
  holidays: part >= minPart;
}
