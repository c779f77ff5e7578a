// Fleet purchase (integer): budget and parking spaces, a minimum number of
// minivans and compact cars at least half of the fleet, maximum earnings.

float compactPrice = ...;   float vanPrice = ...;
float compactEarn = ...;    float vanEarn = ...;      // $ per car over the summer
float budget = ...;
int spaces = ...;
int minVans = ...;
float minCompactShare = ...;

dvar int+ compacts;
dvar int+ minivans;

maximize earnings: compactEarn * compacts + vanEarn * minivans;

subject to {
  money:   compactPrice * compacts + vanPrice * minivans <= budget;
  parking: compacts + minivans <= spaces;
  groups:  minivans >= minVans;
  couples: compacts >= minCompactShare * (compacts + minivans);
}
