// Festival merchandise (integer): press minutes, ink and blank hoodies, with
// T-shirts at least a given share of everything printed.

{string} Items = ...;

float profit[Items] = ...;      // $ per item
float pressMin[Items] = ...;    // press minutes per item
float inkMl[Items] = ...;       // ml of ink per item

float pressHours = ...;
float inkLitres = ...;
int maxHoodies = ...;
float minShirtShare = ...;

dvar int+ print[Items];

maximize profitTotal: sum(i in Items) profit[i] * print[i];

subject to {
  press: sum(i in Items) pressMin[i] * print[i] <= 60 * pressHours;
  ink:   sum(i in Items) inkMl[i] * print[i] <= 1000 * inkLitres;
  blanks: print["hoodie"] <= maxHoodies;
  shirtShare: print["T-shirt"] >= minShirtShare * sum(i in Items) print[i];
}
