// Small unit commitment: on/off and startup decisions with min/max output,
// a spinning-reserve margin, and linear fuel, no-load and startup costs.

{string} Units = ...;
int nbHours = ...;
range Hours = 1..nbHours;

float demand[Hours] = ...;       // MW
float reserve = ...;             // fraction of demand kept as spare capacity
float minOut[Units] = ...;
float maxOut[Units] = ...;
float energyCost[Units] = ...;   // $ per MWh
float noLoadCost[Units] = ...;   // $ per hour online
float startCost[Units] = ...;
int initiallyOn[Units] = ...;    // 1 if running before hour 1

dvar boolean on[Units][Hours];
dvar boolean startup[Units][Hours];
dvar float+ power[Units][Hours];

minimize totalCost:
  sum(u in Units, h in Hours)
    (energyCost[u] * power[u][h] + noLoadCost[u] * on[u][h] + startCost[u] * startup[u][h]);

subject to {
  forall(h in Hours) {
    meetDemand: sum(u in Units) power[u][h] == demand[h];
    spinning: sum(u in Units) maxOut[u] * on[u][h] >= (1 + reserve) * demand[h];
  }
  forall(u in Units, h in Hours) {
    lowerLimit: power[u][h] >= minOut[u] * on[u][h];
    upperLimit: power[u][h] <= maxOut[u] * on[u][h];
  }
  // A startup happens when a unit goes from off to on.
  forall(u in Units)
    firstStart: startup[u][1] >= on[u][1] - initiallyOn[u];
  forall(u in Units, h in Hours : h > 1)
    start: startup[u][h] >= on[u][h] - on[u][h - 1];
}
