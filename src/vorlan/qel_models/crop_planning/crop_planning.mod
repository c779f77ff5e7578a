// Crop planning: allocate land to crops, buy or sell to cover feed needs,
// within land, labor and a sales quota; maximize profit (LP).

{string} Crops = ...;

float land = ...;                 // acres
float laborHours = ...;
float yield[Crops] = ...;         // tons per acre
float sellPrice[Crops] = ...;     // $ per ton
float buyPrice[Crops] = ...;      // $ per ton (0 when the crop cannot be bought)
float plantCost[Crops] = ...;     // $ per acre
float labor[Crops] = ...;         // hours per acre
float feedNeed[Crops] = ...;      // tons needed on the farm
float salesQuota[Crops] = ...;    // tons that can be sold

dvar float+ acres[Crops];
dvar float+ sell[c in Crops] in 0..salesQuota[c];
dvar float+ buy[Crops];

maximize profit:
  sum(c in Crops) (sellPrice[c] * sell[c] - buyPrice[c] * buy[c] - plantCost[c] * acres[c]);

subject to {
  totalLand: sum(c in Crops) acres[c] <= land;
  totalLabor: sum(c in Crops) labor[c] * acres[c] <= laborHours;
  // Harvest plus purchases cover feed needs plus sales.
  forall(c in Crops)
    cropBalance: yield[c] * acres[c] + buy[c] - sell[c] >= feedNeed[c];
  // Only crops with a purchase price can be bought.
  forall(c in Crops : buyPrice[c] == 0)
    noPurchase: buy[c] == 0;
}
