// Multi-period plan with a lagged stock balance: what is made in month t joins the ready
// stock only in month t + lag. Production before the horizon comes from the data, chosen
// with a data-only condition; the cellar holds the ready stock and the wheels still aging.

int nbMonths = ...;
int lag = ...;                         // months a wheel ages before it can be sold
range Months = 1..nbMonths;
range Before = 1 - lag..0;             // months before the plan whose wheels are still aging
float demand[Months] = ...;
float makeCost[Months] = ...;
float maxMake = ...;
float cellarCap = ...;
float holdCost = ...;                  // $ per wheel in the cellar at a month's end
float initialReady = ...;
float madeBefore[Before] = ...;
float finalReady = ...;

dvar float+ make[Months] in 0..maxMake;
dvar float+ ready[0..nbMonths];        // ready wheels at the end of each month

// Wheels made in month k, in the plan or before it.
dexpr float made[k in 1 - lag..nbMonths] = k >= 1 ? make[k] : madeBefore[k];
// Wheels in the cellar at the end of month t: the ready ones and the last lag months' make.
dexpr float inCellar[t in Months] = ready[t] + sum(k in t - lag + 1..t) made[k];

minimize totalCost: sum(t in Months) (makeCost[t] * make[t] + holdCost * inCellar[t]);

subject to {
  start: ready[0] == initialReady;
  forall(t in Months) {
    stockBalance: ready[t] == ready[t - 1] + made[t - lag] - demand[t];
    cellar: inCellar[t] <= cellarCap;
  }
  leftOver: ready[nbMonths] >= finalReady;
}
