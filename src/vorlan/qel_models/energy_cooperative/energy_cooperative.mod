// Power purchase (LP): meet demand from three sources with availability limits
// and a minimum renewable share, at least cost.

{string} Sources = ...;
{string} Renewable = ...;

float price[Sources] = ...;     // $ per MWh
float maxMWh[Sources] = ...;    // availability next month
float demand = ...;             // MWh
float minRenewableShare = ...;

dvar float+ buy[s in Sources] in 0..maxMWh[s];

minimize cost: sum(s in Sources) price[s] * buy[s];

subject to {
  meetDemand: sum(s in Sources) buy[s] >= demand;
  green: sum(s in Renewable) buy[s] >= minRenewableShare * sum(s in Sources) buy[s];
}
