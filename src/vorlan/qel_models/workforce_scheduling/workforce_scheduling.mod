// Cyclic workforce scheduling: each worker works 5 consecutive days per week;
// choose how many start on each day to cover daily requirements with fewest workers.

int nbDays = ...;                 // days 1..nbDays, 1 = Monday
int shiftLength = ...;            // consecutive working days
range Days = 1..nbDays;

int required[Days] = ...;

dvar int+ start[Days];            // workers whose stretch begins on day d

minimize workers: sum(d in Days) start[d];

subject to {
  // Day d is covered by everyone who started on d or on one of the previous
  // shiftLength-1 days, wrapping around the week.
  forall(d in Days)
    cover: sum(k in 0..shiftLength - 1) start[(d - k - 1 + nbDays) mod nbDays + 1] >= required[d];
}
