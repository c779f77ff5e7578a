// Holiday chocolate (LP): couverture, tempering and finishing time, with at
// least a given number of bars per truffle box.

{string} Goods = ...;

float profit[Goods] = ...;          // $ per unit
float couvertureKg[Goods] = ...;
float temperMin[Goods] = ...;       // tempering machine minutes per unit
float finishMin[Goods] = ...;       // staff minutes per unit

float couvertureAvail = ...;
float temperHours = ...;
float finishHours = ...;
float barsPerTruffleBox = ...;

dvar float+ make[Goods];

maximize holidayProfit: sum(g in Goods) profit[g] * make[g];

subject to {
  couverture: sum(g in Goods) couvertureKg[g] * make[g] <= couvertureAvail;
  tempering:  sum(g in Goods) temperMin[g] * make[g] <= 60 * temperHours;
  finishing:  sum(g in Goods) finishMin[g] * make[g] <= 60 * finishHours;
  entryBars:  make["bar"] >= barsPerTruffleBox * make["truffle box"];
}
