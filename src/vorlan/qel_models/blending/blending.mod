// Blending: mix crude oils into gasoline grades with minimum octane and
// maximum sulfur (linear by volume), maximizing sales minus crude cost.

{string} Crudes = ...;
{string} Grades = ...;

float crudeCost[Crudes] = ...;
float crudeAvail[Crudes] = ...;
float octane[Crudes] = ...;
float sulfur[Crudes] = ...;        // percent

float price[Grades] = ...;
float minOctane[Grades] = ...;
float maxSulfur[Grades] = ...;     // percent
float minDemand[Grades] = ...;
float maxDemand[Grades] = ...;

dvar float+ blend[Crudes][Grades];           // barrels of crude c in grade g

dexpr float produced[g in Grades] = sum(c in Crudes) blend[c][g];

maximize profit:
  sum(g in Grades) price[g] * produced[g]
  - sum(c in Crudes, g in Grades) crudeCost[c] * blend[c][g];

subject to {
  forall(c in Crudes)
    supply: sum(g in Grades) blend[c][g] <= crudeAvail[c];

  forall(g in Grades) {
    demand: minDemand[g] <= produced[g] <= maxDemand[g];
    // Quality constraints multiplied through by the blend volume.
    octaneSpec: sum(c in Crudes) octane[c] * blend[c][g] >= minOctane[g] * produced[g];
    sulfurSpec: sum(c in Crudes) sulfur[c] * blend[c][g] <= maxSulfur[g] * produced[g];
  }
}
