// Bond ladder (LP): maximize yield with a liquidity floor and a cap on the
// money-weighted average maturity.

{string} Securities = ...;

float yield[Securities] = ...;
float years[Securities] = ...;      // time to maturity
float amount = ...;
float minOneYearShare = ...;
float maxAvgYears = ...;

dvar float+ hold[Securities];

maximize yearlyYield: sum(s in Securities) yield[s] * hold[s];

subject to {
  invested:  sum(s in Securities) hold[s] == amount;
  liquidity: sum(s in Securities : years[s] <= 1) hold[s] >= minOneYearShare * amount;
  maturity:  sum(s in Securities) years[s] * hold[s] <= maxAvgYears * amount;
}
