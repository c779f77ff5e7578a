// Shift coverage (integer): full-time staff on two-shift patterns and part-timers
// on single shifts, with a limit on part-timers per shift, at least cost.

{string} Shifts = ...;
{string} Patterns = ...;

int covers[Patterns][Shifts] = ...;   // 1 when the pattern works the shift
int need[Shifts] = ...;
float fullCost = ...;                 // $ per full-time person per day
float partCost = ...;                 // $ per part-timer per day
int maxPartPerShift = ...;

dvar int+ full[Patterns];
dvar int+ part[Shifts] in 0..maxPartPerShift;

minimize dailyCost: fullCost * sum(p in Patterns) full[p] + partCost * sum(s in Shifts) part[s];

subject to {
  forall(s in Shifts)
    cover: sum(p in Patterns) covers[p][s] * full[p] + part[s] >= need[s];
}
