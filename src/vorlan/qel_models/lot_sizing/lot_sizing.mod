// Capacitated single-item lot sizing: setup decisions and production
// quantities over periods with inventory; minimize setup, production and holding cost.

int nbWeeks = ...;
range Weeks = 1..nbWeeks;

float demand[Weeks] = ...;
float capacity = ...;        // cases per week when the line runs
float setupCost = ...;
float unitCost = ...;
float holdCost = ...;        // per case carried into the next week
float initialStock = ...;

dvar boolean run[Weeks];
dvar float+ produce[Weeks];
dvar float+ stock[0..nbWeeks];

minimize totalCost:
  sum(w in Weeks) (setupCost * run[w] + unitCost * produce[w] + holdCost * stock[w]);

subject to {
  start: stock[0] == initialStock;
  forall(w in Weeks) {
    flow: stock[w - 1] + produce[w] == demand[w] + stock[w];
    // Produce only in weeks with a setup.
    setup: produce[w] <= capacity * run[w];
  }
}
