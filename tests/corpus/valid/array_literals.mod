{string} P = {"a", "b", "c"};
int weight[1..3] = [4, 2, 7];
float grid[1..2][P] = [[1, 2, 3], [4.5, 5, 6]];
{int} groups[1..2] = [{1, 2}, {3}];
string names[P] = ["first", "second", "third"];
int empty[1..0] = [];
dvar float+ x[P];
maximize sum(i in 1..2, p in P) grid[i][p] * x[p] + sum(k in groups[2]) weight[k];
subject to {
  forall(p in P) x[p] <= weight[ord(P, p) + 1];
}
