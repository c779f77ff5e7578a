// `%` is `mod`, `^` is a right-associative power on data, `ftoi` truncates toward zero,
// and `/` always divides as floats.
int n = ...;
int m = n % 4;
int neg = -7 % 3;
float p = 2 ^ 3 ^ 2;
int ip = 2 * n ^ 2;
float sq = -2 ^ 2;
float half = 2 ^ -1;
int t = ftoi(-3.7) + ftoi(2.9);
float q = 7 / 2;
int w[i in 1..3] = i ^ 2 % 5;
dvar float+ x;
minimize x;
subject to {
  x >= n ^ 2 / 4;
}
assert m == 2 && neg == -1 && p == 512 && ip == 72 && sq == 4 && half == 0.5;
assert t == -1 && q == 3.5 && w[1] == 1 && w[2] == 4 && w[3] == 4;
