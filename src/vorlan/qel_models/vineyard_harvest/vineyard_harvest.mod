// Harvest crew (integer): tonnes picked per person over the days each works,
// limits on both kinds of workers, at least cost.

float tonnes = ...;
int seasonDays = ...;      int helperDays = ...;      // days each works
float seasonRate = ...;    float helperRate = ...;    // tonnes per person per day
float seasonCost = ...;    float helperCost = ...;    // $ per person
int maxSeason = ...;
int maxHelpers = ...;

dvar int+ seasonPickers in 0..maxSeason;
dvar int+ helpers in 0..maxHelpers;

minimize crewCost: seasonCost * seasonPickers + helperCost * helpers;

subject to {
  harvest: seasonDays * seasonRate * seasonPickers + helperDays * helperRate * helpers >= tonnes;
}
