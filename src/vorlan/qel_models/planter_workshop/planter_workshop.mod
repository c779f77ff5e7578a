// Planters and raised beds (integer): cutting and assembly hours, cedar, and a
// 3:2 minimum ratio of planter boxes to raised beds.

float profitBox = ...;   float profitBed = ...;     // $ per unit
float cutBox = ...;      float cutBed = ...;        // cutting hours per unit
float asmBox = ...;      float asmBed = ...;        // assembly hours per unit
float cedarBox = ...;    float cedarBed = ...;      // board-feet per unit
float cutHours = ...;
float asmHours = ...;
float cedarAvail = ...;
int ratioBoxes = ...;    // at least ratioBoxes boxes ...
int ratioBeds = ...;     // ... for every ratioBeds beds

dvar int+ boxes;
dvar int+ beds;

maximize profit: profitBox * boxes + profitBed * beds;

subject to {
  cutting:  cutBox * boxes + cutBed * beds <= cutHours;
  assembly: asmBox * boxes + asmBed * beds <= asmHours;
  cedar:    cedarBox * boxes + cedarBed * beds <= cedarAvail;
  mix:      ratioBeds * boxes >= ratioBoxes * beds;
}
