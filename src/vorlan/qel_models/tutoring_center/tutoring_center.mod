// Weekly tutoring staff (integer): hours per tutor type, a desk limit for
// full-timers and a cap on the part-time share of tutors, at least cost.

float hoursBooked = ...;
float fullHours = ...;     float partHours = ...;
float fullCost = ...;      float partCost = ...;     // $ per week
int desks = ...;
float maxPartShare = ...;  // of the number of tutors

dvar int+ fullTime in 0..desks;
dvar int+ partTime;

minimize weeklyCost: fullCost * fullTime + partCost * partTime;

subject to {
  hours:      fullHours * fullTime + partHours * partTime >= hoursBooked;
  continuity: partTime <= maxPartShare * (fullTime + partTime);
}
