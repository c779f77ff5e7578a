// Fruit punch (LP): a fixed volume from three juices with vitamin and sugar
// limits and a minimum share of one juice, at least cost.

{string} Juices = ...;

float price[Juices] = ...;        // $ per litre
float vitaminC[Juices] = ...;     // mg per litre
float sugar[Juices] = ...;        // g per litre
float litres = ...;
float minVitaminC = ...;          // mg in the whole punch
float maxSugar = ...;             // g in the whole punch
float minCranberryShare = ...;

dvar float+ use[Juices];

minimize cost: sum(j in Juices) price[j] * use[j];

subject to {
  volume: sum(j in Juices) use[j] == litres;
  vitamin: sum(j in Juices) vitaminC[j] * use[j] >= minVitaminC;
  sweet: sum(j in Juices) sugar[j] * use[j] <= maxSugar;
  colour: use["cranberry"] >= minCranberryShare * litres;
}
