// Spending a sum on home improvements (LP): yearly saving per dollar, a cap per
// improvement and a cash reserve.

{string} Uses = ...;

float savingPerDollar[Uses] = ...;
float cap[Uses] = ...;           // $ at most
float money = ...;
float minReserve = ...;

dvar float+ spend[u in Uses] in 0..cap[u];

maximize yearlySaving: sum(u in Uses) savingPerDollar[u] * spend[u];

subject to {
  budget:  sum(u in Uses) spend[u] <= money;
  reserve: spend["savings account"] >= minReserve;
}
