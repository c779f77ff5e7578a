// Shortest path as a unit flow from the source to the target node.

{string} Nodes = ...;
tuple Street { string orig; string dest; float minutes; }
{Street} Streets = ...;

string source = ...;
string target = ...;
assert endpoints: source in Nodes && target in Nodes && source != target;

// 1 unit leaves the source, 1 unit enters the target, other nodes balance.
int netOut[n in Nodes] = (n == source) ? 1 : ((n == target) ? -1 : 0);

dvar float use[Streets] in 0..1;      // the LP optimum is integral

minimize travelTime: sum(s in Streets) s.minutes * use[s];

subject to {
  forall(n in Nodes)
    flowBalance: sum(s in Streets : s.orig == n) use[s]
               - sum(s in Streets : s.dest == n) use[s] == netOut[n];
}
