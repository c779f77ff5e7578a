// Library purchases (integer): budget and shelf room, a minimum share of
// children's books and a minimum number of non-fiction titles.

{string} Kinds = ...;

float price[Kinds] = ...;        // $ per book
float shelfCm[Kinds] = ...;      // cm of shelf per book
float loans[Kinds] = ...;        // expected loans per book per year

float budget = ...;
float shelfMetres = ...;
float minChildShare = ...;
int minNonFiction = ...;

dvar int+ buy[Kinds];

maximize yearlyLoans: sum(k in Kinds) loans[k] * buy[k];

subject to {
  money: sum(k in Kinds) price[k] * buy[k] <= budget;
  shelf: sum(k in Kinds) shelfCm[k] * buy[k] <= 100 * shelfMetres;
  children: buy["children"] >= minChildShare * sum(k in Kinds) buy[k];
  learning: buy["non-fiction"] >= minNonFiction;
}
