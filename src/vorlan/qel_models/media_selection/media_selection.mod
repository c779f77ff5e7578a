// Media selection: buy whole numbers of ads within a budget to maximize reach.

{string} Media = ...;
float cost[Media] = ...;
float reach[Media] = ...;
int maxAds[Media] = ...;
int minAds[Media] = ...;
float budget = ...;
float maxShare[Media] = ...;      // largest fraction of the budget per medium

dvar int ads[m in Media] in minAds[m]..maxAds[m];

dexpr float spend[m in Media] = cost[m] * ads[m];

maximize peopleReached: sum(m in Media) reach[m] * ads[m];

subject to {
  totalBudget: sum(m in Media) spend[m] <= budget;
  forall(m in Media : maxShare[m] < 1)
    share: spend[m] <= maxShare[m] * budget;
}
