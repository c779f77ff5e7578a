// Staff rostering: assign nurses to daily shifts meeting requirements,
// availability and rest rules, minimizing preference penalties.

{string} Nurses = ...;
{string} Shifts = ...;            // in time order within a day
int nbDays = ...;
range Days = 1..nbDays;

int required[Days][Shifts] = ...;
int penalty[Nurses][Shifts] = ...;
int maxShifts = ...;

tuple DayOff { string nurse; int day; }
{DayOff} Unavailable = ...;

// Shifts that may not be followed by the given shift on the next day.
tuple Transition { string from_shift; string to_shift; }
{Transition} Forbidden = ...;

dvar boolean work[Nurses][Days][Shifts];

minimize totalPenalty: sum(n in Nurses, d in Days, s in Shifts) penalty[n][s] * work[n][d][s];

subject to {
  forall(d in Days, s in Shifts)
    cover: sum(n in Nurses) work[n][d][s] >= required[d][s];
  forall(n in Nurses, d in Days)
    oneShiftPerDay: sum(s in Shifts) work[n][d][s] <= 1;
  forall(n in Nurses)
    weeklyLimit: sum(d in Days, s in Shifts) work[n][d][s] <= maxShifts;
  forall(<n, d> in Unavailable, s in Shifts)
    dayOff: work[n][d][s] == 0;
  forall(n in Nurses, <a, b> in Forbidden, d in Days : d < nbDays)
    rest: work[n][d][a] + work[n][d + 1][b] <= 1;
}
