// Soldering kits (integer): volunteer time, boards and microcontrollers, a total
// sales limit and a minimum share of advanced kits.

float profitBasic = ...;       float profitAdv = ...;      // $ per kit
float minutesBasic = ...;      float minutesAdv = ...;     // packing and testing
int boardsBasic = ...;         int boardsAdv = ...;        // circuit boards per kit
float volunteerHours = ...;
int boards = ...;
int controllers = ...;         // one per advanced kit
int maxKits = ...;
float minAdvShare = ...;

dvar int+ basic;
dvar int+ advanced;

maximize profit: profitBasic * basic + profitAdv * advanced;

subject to {
  time:       minutesBasic * basic + minutesAdv * advanced <= 60 * volunteerHours;
  boardStock: boardsBasic * basic + boardsAdv * advanced <= boards;
  chips:      advanced <= controllers;
  market:     basic + advanced <= maxKits;
  advShare:   advanced >= minAdvShare * (basic + advanced);
}
