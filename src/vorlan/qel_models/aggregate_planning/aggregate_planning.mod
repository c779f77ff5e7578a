// Aggregate planning: workforce level (hire/fire), regular and overtime
// production and inventory over months, minimizing total cost (MILP).

int nbMonths = ...;
range Months = 1..nbMonths;

float demand[Months] = ...;
int initialWorkers = ...;
float unitsPerWorker = ...;
float wage = ...;
float hireCost = ...;
float fireCost = ...;
float overtimeCost = ...;        // per unit
float maxOvertimePerWorker = ...;
float holdCost = ...;
float initialStock = ...;
float finalStock = ...;

dvar int+ workers[0..nbMonths];
dvar int+ hire[Months];
dvar int+ fire[Months];
dvar float+ overtime[Months];    // units made on overtime
dvar float+ stock[0..nbMonths];

minimize totalCost:
  sum(t in Months) (wage * workers[t] + hireCost * hire[t] + fireCost * fire[t]
                    + overtimeCost * overtime[t] + holdCost * stock[t]);

subject to {
  startWorkers: workers[0] == initialWorkers;
  startStock: stock[0] == initialStock;
  endStock: stock[nbMonths] >= finalStock;
  forall(t in Months) {
    staffing: workers[t] == workers[t - 1] + hire[t] - fire[t];
    inventory: stock[t] == stock[t - 1] + unitsPerWorker * workers[t] + overtime[t] - demand[t];
    overtimeLimit: overtime[t] <= maxOvertimePerWorker * workers[t];
  }
}
