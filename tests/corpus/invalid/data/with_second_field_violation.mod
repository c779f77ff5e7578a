tuple Arc { string origin; string destination; }
{string} Nodes = ...;
{Arc} Arcs with origin, destination in Nodes = ...;
dvar float x;
minimize x;
