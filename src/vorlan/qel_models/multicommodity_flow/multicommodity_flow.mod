// Multi-commodity flow: several commodities, each with its own origin and
// destination, share arc capacities; minimize total transport cost.

{string} Nodes = ...;

tuple Track { key string orig; key string dest; float cost; float cap; }
{Track} Tracks with orig in Nodes = ...;

tuple Commodity { key string name; string orig; string dest; float tons; }
{Commodity} Commodities with orig in Nodes = ...;

dvar float+ flow[Commodities][Tracks];

minimize transportCost: sum(k in Commodities, t in Tracks) t.cost * flow[k][t];

subject to {
  // Per commodity: net outflow is its quantity at the origin, minus it at the
  // destination, zero elsewhere.
  forall(k in Commodities, n in Nodes)
    balance: sum(t in Tracks : t.orig == n) flow[k][t] - sum(t in Tracks : t.dest == n) flow[k][t]
             == (n == k.orig ? k.tons : (n == k.dest ? -k.tons : 0));
  // The commodities share each track's capacity.
  forall(t in Tracks)
    capacity: sum(k in Commodities) flow[k][t] <= t.cap;
}
