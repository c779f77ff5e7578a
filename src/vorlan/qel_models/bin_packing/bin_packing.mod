// Bin packing: put every item into a bin of limited capacity using as few bins as possible.

int nbItems = ...;
int nbBins = ...;
range Items = 1..nbItems;
range Bins = 1..nbBins;

float size[Items] = ...;
float capacity = ...;

assert fits: forall(i in Items) size[i] <= capacity;

dvar boolean put[Items][Bins];   // item i goes into bin b
dvar boolean used[Bins];         // bin b is used

minimize binsUsed: sum(b in Bins) used[b];

subject to {
  forall(i in Items)
    packed: sum(b in Bins) put[i][b] == 1;
  // An unused bin holds nothing; a used one holds at most its capacity.
  forall(b in Bins)
    binCapacity: sum(i in Items) size[i] * put[i][b] <= capacity * used[b];
  // Symmetry breaking: use bins in order.
  forall(b in Bins : b > 1)
    inOrder: used[b] <= used[b - 1];
}
