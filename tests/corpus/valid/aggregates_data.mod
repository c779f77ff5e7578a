range R = 1..4;
float a[R] = ...;
float mx = max(i in R) a[i];
float mn = min(i in R) a[i];
float pr = prod(i in R) a[i];
float s = sum(i in R) a[i];
int m2 = minl(3, 1, 2);
int M2 = maxl(3, 1, 2);
float m3 = min(1, 2.5);
dvar float+ x;
minimize x;
subject to { x >= mx - mn + pr / s + m2 - M2 + m3; }
