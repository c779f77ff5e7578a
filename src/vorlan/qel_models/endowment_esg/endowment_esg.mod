// Endowment split (LP): maximize return with a minimum money-weighted
// sustainability score and a concentration limit per fund.

{string} Funds = ...;

float expReturn[Funds] = ...;
float score[Funds] = ...;        // sustainability score 0..100
float endowment = ...;
float minAvgScore = ...;
float maxShare = ...;

dvar float+ hold[Funds];

maximize yearlyReturn: sum(f in Funds) expReturn[f] * hold[f];

subject to {
  invested: sum(f in Funds) hold[f] == endowment;
  sustainability: sum(f in Funds) score[f] * hold[f] >= minAvgScore * endowment;
  forall(f in Funds)
    spread: hold[f] <= maxShare * endowment;
}
