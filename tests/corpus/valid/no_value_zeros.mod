int k;
float f[1..3];
{string} E;
string s;
dvar float+ x;
minimize x + k + f[2] + card(E);
assert s == "";
