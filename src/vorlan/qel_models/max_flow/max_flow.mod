// Maximum flow from a source to a sink over capacitated directed arcs.

{string} Nodes = ...;
tuple Road { key string orig; key string dest; float cap; }
{Road} Roads = ...;
string source = ...;
string sink = ...;

dvar float+ flow[r in Roads] in 0..r.cap;

// Net flow out of the source.
dexpr float throughput = sum(r in Roads : r.orig == source) flow[r]
                       - sum(r in Roads : r.dest == source) flow[r];

maximize trucksPerHour: throughput;

subject to {
  forall(n in Nodes : n != source && n != sink)
    conservation: sum(r in Roads : r.dest == n) flow[r] == sum(r in Roads : r.orig == n) flow[r];
}
