range R = -maxint..maxint;
int n = card(R);
dvar float x;
minimize x;
