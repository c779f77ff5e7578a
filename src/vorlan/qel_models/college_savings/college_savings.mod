// College fund (LP): split a sum over three options to maximize return with a
// cap on the money-weighted average risk score.

{string} Options = ...;

float rate[Options] = ...;       // expected yearly return
float risk[Options] = ...;       // risk score 1..10
float total = ...;
float maxAvgRisk = ...;
float minSavings = ...;

dvar float+ put[Options];

maximize yearlyReturn: sum(o in Options) rate[o] * put[o];

subject to {
  placeAll: sum(o in Options) put[o] == total;
  avgRisk:  sum(o in Options) risk[o] * put[o] <= maxAvgRisk * total;
  emergency: put["savings account"] >= minSavings;
}
