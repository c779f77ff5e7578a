// Undirected network flow: each pipe is listed once and may carry flow either way. The
// arcs are both orientations of every pipe, built with a tuple-valued set comprehension;
// the pipe's limit holds for the two directions together.

{string} Nodes = ...;
tuple Pipe { string a; string b; float cost; float limit; }
{Pipe} Pipes = ...;
float supply[Nodes] = ...;         // most a source can release (0 elsewhere)
float demand[Nodes] = ...;         // what a node needs (0 elsewhere)

tuple Arc { string from; string dest; float cost; }
{Arc} Arcs = {<p.a, p.b, p.cost> | p in Pipes} union {<p.b, p.a, p.cost> | p in Pipes};

dvar float+ flow[Arcs];

minimize pumping: sum(<i, j, c> in Arcs) c * flow[<i, j, c>];

subject to {
  forall(n in Nodes)
    balance: sum(<n, j, c> in Arcs) flow[<n, j, c>] - sum(<i, n, c> in Arcs) flow[<i, n, c>]
             <= supply[n] - demand[n];
  forall(p in Pipes)
    pipeLimit: flow[<p.a, p.b, p.cost>] + flow[<p.b, p.a, p.cost>] <= p.limit;
}
