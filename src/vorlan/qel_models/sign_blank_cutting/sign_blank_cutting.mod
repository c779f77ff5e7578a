// Cutting stock with patterns generated in the model: every mix of the three blank lengths
// that fits a strip and leaves an offcut shorter than the shortest blank is a pattern (a
// tuple-valued set comprehension over the possible counts); then an integer program
// chooses how many strips to cut with each pattern.

int stripLength = ...;
range Sizes = 1..3;
int blankLength[Sizes] = ...;
int ordered[Sizes] = ...;

// At most this many blanks of one size fit in a strip.
int most[s in Sizes] = ftoi(stripLength / blankLength[s]);
int shortest = min(s in Sizes) blankLength[s];

tuple Pattern { int n1; int n2; int n3; }
{Pattern} Patterns = {<a, b, c> | a in 0..most[1], b in 0..most[2], c in 0..most[3] :
                      0 <= stripLength - (a * blankLength[1] + b * blankLength[2] + c * blankLength[3]) < shortest};

// Blanks of size s in pattern p.
int count[p in Patterns][s in Sizes] = s == 1 ? p.n1 : (s == 2 ? p.n2 : p.n3);

dvar int+ strips[Patterns];

minimize stripsUsed: sum(p in Patterns) strips[p];

subject to {
  forall(s in Sizes)
    orders: sum(p in Patterns) count[p][s] * strips[p] >= ordered[s];
}
