// Monthly brewing plan (LP): three beers, brewhouse hours, tank-days and hops,
// a cap on the stout share of the volume and a lager order to fill.

float contribLager = ...;   float contribPale = ...;   float contribStout = ...;   // $ per hl
float brewLager = ...;      float brewPale = ...;      float brewStout = ...;      // hours per hl
float tankLager = ...;      float tankPale = ...;      float tankStout = ...;      // tank-days per hl
float hopsLager = ...;      float hopsPale = ...;      float hopsStout = ...;      // kg per hl

float brewHours = ...;
float tankDays = ...;
float hopsKg = ...;
float maxStoutShare = ...;  // fraction of total volume
float lagerOrder = ...;     // hl already ordered

dvar float+ lager;          // hectolitres brewed
dvar float+ paleAle;
dvar float+ stout;

maximize contribution: contribLager * lager + contribPale * paleAle + contribStout * stout;

subject to {
  brewhouse: brewLager * lager + brewPale * paleAle + brewStout * stout <= brewHours;
  tanks:     tankLager * lager + tankPale * paleAle + tankStout * stout <= tankDays;
  hops:      hopsLager * lager + hopsPale * paleAle + hopsStout * stout <= hopsKg;
  stoutShare: stout <= maxStoutShare * (lager + paleAle + stout);
  pubOrder:  lager >= lagerOrder;
}
