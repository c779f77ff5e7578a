// Vehicle loading: assign orders to trucks within weight and volume limits,
// paying a fixed cost per truck used; maximize revenue minus truck costs.

{string} Orders = ...;
{string} Trucks = ...;

float weight[Orders] = ...;
float volume[Orders] = ...;
float revenue[Orders] = ...;
float maxWeight[Trucks] = ...;
float maxVolume[Trucks] = ...;
float truckCost[Trucks] = ...;

// Orders that must share a truck when shipped.
tuple Together { string a; string b; }
{Together} SameTruck = ...;

dvar boolean load[Orders][Trucks];
dvar boolean used[Trucks];

maximize margin:
  sum(o in Orders, k in Trucks) revenue[o] * load[o][k] - sum(k in Trucks) truckCost[k] * used[k];

subject to {
  forall(o in Orders)
    atMostOneTruck: sum(k in Trucks) load[o][k] <= 1;
  forall(k in Trucks) {
    weightLimit: sum(o in Orders) weight[o] * load[o][k] <= maxWeight[k] * used[k];
    volumeLimit: sum(o in Orders) volume[o] * load[o][k] <= maxVolume[k] * used[k];
  }
  forall(<a, b> in SameTruck, k in Trucks)
    together: load[a][k] == load[b][k];
}
