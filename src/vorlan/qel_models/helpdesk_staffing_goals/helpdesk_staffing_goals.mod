// Shift staffing with a service goal, then a cost goal: agents start at one of several
// times and cover two consecutive blocks; the shortfall below the required agents is
// minimized first, the wage bill second.

int nbBlocks = ...;
range Blocks = 1..nbBlocks;
int needed[Blocks] = ...;          // agents required per block
int shiftBlocks = ...;             // blocks covered by one shift
{int} Starts = ...;                // blocks in which a shift may start
float wage[Starts] = ...;          // $ per shift
int maxAgents = ...;
int maxPerStart = ...;

assert shiftsEndInTime: forall(s in Starts) s + shiftBlocks - 1 <= nbBlocks;

dvar int agents[Starts] in 0..maxPerStart;
dvar int+ short[Blocks];           // agents missing in a block

dexpr float totalShort = sum(b in Blocks) short[b];
dexpr float wages = sum(s in Starts) wage[s] * agents[s];

minimize lexicographic(totalShort, wages);

subject to {
  forall(b in Blocks)
    cover: sum(s in Starts : s <= b <= s + shiftBlocks - 1) agents[s] + short[b] >= needed[b];
  headcount: sum(s in Starts) agents[s] <= maxAgents;
}
