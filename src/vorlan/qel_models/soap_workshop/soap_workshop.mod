// Soap batches (LP): oil, labour and drying racks, with a minimum share of
// liquid soap among all batches.

{string} Products = ...;
{string} Bars = ...;               // products that need a drying rack

float earning[Products] = ...;     // $ per batch
float oilLitres[Products] = ...;   // per batch
float labourHours[Products] = ...; // per batch

float oilAvail = ...;
float labourAvail = ...;
int racks = ...;
float minLiquidShare = ...;

dvar float+ batches[Products];

maximize earnings: sum(p in Products) earning[p] * batches[p];

subject to {
  oil:    sum(p in Products) oilLitres[p] * batches[p] <= oilAvail;
  labour: sum(p in Products) labourHours[p] * batches[p] <= labourAvail;
  drying: sum(b in Bars) batches[b] <= racks;
  liquidShare: batches["liquid soap"] >= minLiquidShare * sum(p in Products) batches[p];
}
