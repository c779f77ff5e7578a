// Set cover: open the cheapest set of sites so that every district is covered.

int nbDistricts = ...;
range Districts = 1..nbDistricts;

{string} Sites = ...;
float buildCost[Sites] = ...;
{int} reaches[Sites] = ...;        // districts reachable in time from each site

assert validDistricts: forall(s in Sites, k in reaches[s]) k in Districts;

dvar boolean build[Sites];

minimize totalCost: sum(s in Sites) buildCost[s] * build[s];

subject to {
  forall(k in Districts)
    covered: sum(s in Sites : k in reaches[s]) build[s] >= 1;
}
