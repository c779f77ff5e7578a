// Goals in priority order: meet the production target for A, then maximise profit;
// a label, a dexpr goal and a minus sign for the maximised one.
int cap = ...;
dvar int+ a in 0..10;
dvar int+ b in 0..10;
dvar float+ under;
dexpr float profit = 2 * a + 3 * b;

minimize plan: lexicographic(under, -profit);

subject to {
  hours: 3 * a + 2 * b <= cap;
  target: a + under >= 6;
}
