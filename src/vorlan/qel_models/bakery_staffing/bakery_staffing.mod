// Daily staffing (integer): full-time and part-time workers covering the hours
// needed, a cap on part-time hours, a minimum of full-timers and a head count limit.

float hoursNeeded = ...;
float fullShift = ...;     float partShift = ...;     // hours per person per day
float fullWage = ...;      float partWage = ...;      // $ per hour
int oneIn = ...;           // at most one hour in oneIn is worked part-time
int minFull = ...;
int lockers = ...;

dvar int+ full;
dvar int+ part;

minimize wages: fullWage * fullShift * full + partWage * partShift * part;

subject to {
  cover:    fullShift * full + partShift * part >= hoursNeeded;
  partCap:  oneIn * partShift * part <= fullShift * full + partShift * part;
  opening:  full >= minFull;
  headcount: full + part <= lockers;
}
