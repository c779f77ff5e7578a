// Graph coloring: give each vertex a color (slot) so that adjacent vertices
// differ, using as few colors as possible.

{string} Courses = ...;
int maxSlots = ...;
range Slots = 1..maxSlots;

tuple Conflict { string a; string b; }
{Conflict} Conflicts with a in Courses = ...;

dvar boolean slot[Courses][Slots];   // course c examined in slot s
dvar boolean used[Slots];

minimize slotsUsed: sum(s in Slots) used[s];

subject to {
  forall(c in Courses)
    oneSlot: sum(s in Slots) slot[c][s] == 1;
  // Conflicting courses never share a slot, and a slot in use is counted.
  forall(<a, b> in Conflicts, s in Slots)
    apart: slot[a][s] + slot[b][s] <= used[s];
  forall(s in Slots : s > 1)
    symmetry: used[s] <= used[s - 1];
}
