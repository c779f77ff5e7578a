// Project crashing (LP): shorten activities at a cost per day so that the
// precedence-constrained project meets its deadline at least extra cost.

{string} Activities = ...;
float normalDays[Activities] = ...;
float minDays[Activities] = ...;
float crashCost[Activities] = ...;     // $ per day saved
float deadline = ...;

tuple Precedence { string before; string after; }
{Precedence} Precedences with before in Activities = ...;

assert durationsValid: forall(a in Activities) minDays[a] <= normalDays[a];

dvar float+ start[Activities];
dvar float+ crash[a in Activities] in 0..normalDays[a] - minDays[a];   // days saved

dexpr float duration[a in Activities] = normalDays[a] - crash[a];

minimize extraCost: sum(a in Activities) crashCost[a] * crash[a];

subject to {
  forall(<b, a> in Precedences)
    order: start[a] >= start[b] + duration[b];
  forall(a in Activities)
    onTime: start[a] + duration[a] <= deadline;
}
