// Portfolio allocation (LP): split a budget over assets to maximize expected
// return under concentration and risk-class limits.

tuple Asset { key string name; string risk; float expReturn; }
{Asset} Assets = ...;
{string} RiskClasses = { a.risk | a in Assets };

float budget = ...;
float maxPerAsset = ...;               // fraction of the budget
float minShare[RiskClasses] = ...;     // fraction of the budget, at least
float maxShare[RiskClasses] = ...;     // fraction of the budget, at most

dvar float+ invest[Assets];

maximize expectedReturn: sum(a in Assets) a.expReturn * invest[a];

subject to {
  allInvested: sum(a in Assets) invest[a] == budget;
  forall(a in Assets)
    concentration: invest[a] <= maxPerAsset * budget;
  forall(r in RiskClasses)
    riskMix: minShare[r] * budget <= sum(a in Assets : a.risk == r) invest[a] <= maxShare[r] * budget;
  corporateVsGrowth:
    sum(a in Assets : a.name == "corporate bonds") invest[a]
      >= sum(a in Assets : a.name == "growth stocks") invest[a];
}
