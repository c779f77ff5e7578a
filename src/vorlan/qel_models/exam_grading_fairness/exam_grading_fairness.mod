// Assignment with a fairness goal: the largest workload is minimized first (a variable
// bounded below by every assistant's load), the total effort second.

{string} Assistants = ...;
int nbQuestions = ...;
range Questions = 1..nbQuestions;
float hours[Assistants][Questions] = ...;
int maxQuestions = ...;

dvar boolean grades[Assistants][Questions];
dvar float+ heaviest;                 // the largest workload of any assistant

dexpr float load[a in Assistants] = sum(q in Questions) hours[a][q] * grades[a][q];
dexpr float totalHours = sum(a in Assistants) load[a];

minimize lexicographic(heaviest, totalHours);

subject to {
  forall(q in Questions)
    oneGrader: sum(a in Assistants) grades[a][q] == 1;
  forall(a in Assistants) {
    fairness: load[a] <= heaviest;
    fewQuestions: sum(q in Questions) grades[a][q] <= maxQuestions;
  }
}
