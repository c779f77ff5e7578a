// Investment split (LP): a fixed amount over three options with share limits
// and a minimum safety reserve.

float amount = ...;
float rateIndex = ...;     float rateBonds = ...;     float rateCD = ...;
float minBondShare = ...;
float maxIndexShare = ...;
float minCD = ...;          // $

dvar float+ index;
dvar float+ bonds;
dvar float+ cd;

maximize expectedReturn: rateIndex * index + rateBonds * bonds + rateCD * cd;

subject to {
  allInvested: index + bonds + cd == amount;
  bondFloor:   bonds >= minBondShare * amount;
  indexCap:    index <= maxIndexShare * amount;
  reserve:     cd >= minCD;
}
