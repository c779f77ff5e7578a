// Minimum-cost network flow: integer-numbered nodes with supplies and demands,
// capacitated arcs with unit costs; flow conservation at every node.

int nbNodes = ...;
range Nodes = 1..nbNodes;

tuple Pipe {
  key int i;        // tail node
  key int j;        // head node
  float cost;
  float cap;
}
{Pipe} Pipes = ...;

float supply[Nodes] = ...;     // > 0 injection, < 0 withdrawal

assert balanced: sum(n in Nodes) supply[n] == 0;

dvar float+ flow[p in Pipes] in 0..p.cap;

minimize pumpingCost: sum(p in Pipes) p.cost * flow[p];

subject to {
  forall(n in Nodes)
    conservation: sum(<n, j, c, u> in Pipes) flow[<n, j, c, u>]
                - sum(<i, n, c, u> in Pipes) flow[<i, n, c, u>] == supply[n];
}
