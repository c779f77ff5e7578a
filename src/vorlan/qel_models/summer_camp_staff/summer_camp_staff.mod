// Camp staffing (integer): children supervised per counsellor, a senior-to-junior
// ratio and a bed limit, at least payroll.

int children = ...;
int seniorKids = ...;      int juniorKids = ...;     // children each can supervise
float seniorPay = ...;     float juniorPay = ...;    // $ per season
int juniorsPerSenior = ...;
int beds = ...;

dvar int+ seniors;
dvar int+ juniors;

minimize payroll: seniorPay * seniors + juniorPay * juniors;

subject to {
  supervision: seniorKids * seniors + juniorKids * juniors >= children;
  ratio:       juniorsPerSenior * seniors >= juniors;
  cabins:      seniors + juniors <= beds;
}
