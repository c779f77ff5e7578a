// Capital budgeting: select all-or-nothing projects under yearly budgets
// with dependency and mutual-exclusion rules, maximizing total NPV.

{string} Projects = ...;
int nbYears = ...;
range Years = 1..nbYears;

float npv[Projects] = ...;
float capital[Projects][Years] = ...;
float budget[Years] = ...;

tuple Pair { string project; string other; }
{Pair} Requires with project in Projects = ...;   // project needs other
{Pair} Exclusive with project in Projects = ...;  // at most one of the two

dvar boolean fund[Projects];

maximize totalNPV: sum(p in Projects) npv[p] * fund[p];

subject to {
  forall(y in Years)
    yearlyBudget: sum(p in Projects) capital[p][y] * fund[p] <= budget[y];
  forall(<a, b> in Requires)
    dependency: fund[a] <= fund[b];
  forall(<a, b> in Exclusive)
    atMostOne: fund[a] + fund[b] <= 1;
}
