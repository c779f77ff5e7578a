// Loan portfolio (LP): interest minus expected losses, with a loss-rate cap, a
// share cap on business loans and a minimum for car loans.

{string} Loans = ...;

float rate[Loans] = ...;        // yearly interest
float lossRate[Loans] = ...;    // share never repaid
float funds = ...;
float maxLossShare = ...;
float maxBusinessShare = ...;
float minCar = ...;

dvar float+ lend[Loans];

dexpr float lent = sum(l in Loans) lend[l];

maximize netIncome: sum(l in Loans) (rate[l] - lossRate[l]) * lend[l];

subject to {
  available: lent <= funds;
  losses:    sum(l in Loans) lossRate[l] * lend[l] <= maxLossShare * lent;
  business:  lend["small business"] <= maxBusinessShare * lent;
  cars:      lend["car"] >= minCar;
}
