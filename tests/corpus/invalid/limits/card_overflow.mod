range R = -9223372036854775807..9223372036854775807;
int n = card(R);
dvar float x;
minimize x;
