// Jam kitchen (LP): fruit of each kind, sugar and stove time, with mixed-berry
// jars at most as many as strawberry jars.

{string} Jams = ...;

float profit[Jams] = ...;       // $ per jar
float fruitKg[Jams] = ...;      // kg of the jam's own fruit per jar
float sugarKg[Jams] = ...;      // kg per jar
float stoveMin[Jams] = ...;     // minutes per jar
float fruitAvail[Jams] = ...;   // kg of each fruit this week

float sugarAvail = ...;
float stoveHours = ...;

dvar float+ jars[Jams];

maximize totalProfit: sum(j in Jams) profit[j] * jars[j];

subject to {
  forall(j in Jams)
    fruit: fruitKg[j] * jars[j] <= fruitAvail[j];
  sugar: sum(j in Jams) sugarKg[j] * jars[j] <= sugarAvail;
  stove: sum(j in Jams) stoveMin[j] * jars[j] <= 60 * stoveHours;
  syrup: jars["mixed berry"] <= jars["strawberry"];
}
