// Cutting stock (pattern formulation): choose how often to cut each pattern
// so that all ordered widths are produced using the fewest stock rolls.

int rollWidth = ...;
{int} Widths = ...;               // ordered widths (inches)
int demand[Widths] = ...;             // rolls ordered per width

int nbPatterns = ...;
range Patterns = 1..nbPatterns;
int fill[Patterns][Widths] = ...;     // rolls of each width cut by a pattern

// Every pattern must fit in one stock roll.
assert patternsFit: forall(p in Patterns) sum(w in Widths) w * fill[p][w] <= rollWidth;

dvar int+ cut[Patterns];              // stock rolls cut with pattern p

minimize rollsUsed: sum(p in Patterns) cut[p];

subject to {
  forall(w in Widths)
    orders: sum(p in Patterns) fill[p][w] * cut[p] >= demand[w];
}
