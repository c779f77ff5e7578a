dvar float x;
dvar float y;
minimize x;
subject to {
  limit:
    x + y
      < 10;
}
