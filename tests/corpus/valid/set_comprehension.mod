range R = 1..10;
{int} Even = { i | i in R : i mod 2 == 0 };
{int} Odd = R diff Even;
{int} All = Even union Odd;
{int} None = Even inter Odd;
{int} Sym = Even symdiff {2, 11};
dvar float+ x[All];
minimize sum(i in Even) x[i] + card(None) + card(Sym);
