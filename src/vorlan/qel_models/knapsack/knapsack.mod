// 0-1 knapsack: choose items of maximum total value within a weight limit.

tuple Item {
  key string name;
  float weight;     // kg
  int value;        // points
}

{Item} Items = ...;
float capacity = ...;

dvar boolean take[Items];

maximize totalValue: sum(i in Items) i.value * take[i];

subject to {
  weightLimit: sum(i in Items) i.weight * take[i] <= capacity;
}
