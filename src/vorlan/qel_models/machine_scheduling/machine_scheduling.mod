// Identical parallel machines: assign jobs to machines to minimize the makespan.

{string} Jobs = ...;
int nbMachines = ...;
range Machines = 1..nbMachines;
float duration[Jobs] = ...;

dvar boolean assign[Jobs][Machines];
dvar float+ makespan;

minimize finishTime: makespan;

subject to {
  forall(j in Jobs)
    oneMachine: sum(m in Machines) assign[j][m] == 1;
  // The makespan is at least the load of every machine.
  forall(m in Machines)
    load: sum(j in Jobs) duration[j] * assign[j][m] <= makespan;
}
