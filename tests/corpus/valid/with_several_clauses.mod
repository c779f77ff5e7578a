tuple Route { string origin; string destination; string mode; float cost; }
{string} Nodes = ...;
{string} Modes = ...;
{Route} Routes with origin, destination in Nodes, mode in Modes = ...;
{Route} Cheap with origin in Nodes, destination in Nodes = { r | r in Routes : r.cost < 5 };
dvar float+ use[Routes];
minimize sum(r in Routes) r.cost * use[r];
subject to {
  forall(r in Cheap) use[r] >= 1;
}
