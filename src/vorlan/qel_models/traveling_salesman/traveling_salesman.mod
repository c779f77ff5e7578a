// Traveling salesman with Miller-Tucker-Zemlin subtour elimination.

int nbCities = ...;
range Cities = 1..nbCities;
float dist[Cities][Cities] = ...;     // symmetric distance matrix

dvar boolean travel[Cities][Cities];  // 1 if the tour goes from i directly to j
dvar float order[Cities] in 1..nbCities - 1;   // visiting position (MTZ)

minimize tourLength: sum(i, j in Cities : i != j) dist[i][j] * travel[i][j];

subject to {
  forall(i in Cities)
    noSelfLoop: travel[i][i] == 0;
  forall(i in Cities)
    leaveOnce: sum(j in Cities : j != i) travel[i][j] == 1;
  forall(j in Cities)
    enterOnce: sum(i in Cities : i != j) travel[i][j] == 1;
  // Subtour elimination among the cities other than the home city 1.
  forall(i, j in Cities : i != j && i > 1 && j > 1)
    mtz: order[i] - order[j] + nbCities * travel[i][j] <= nbCities - 1;
}
