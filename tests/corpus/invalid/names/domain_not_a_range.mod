{int} Channels = {1, 3, 5};
{string} A = ...;
dvar int f[A] in Channels;
minimize sum(a in A) f[a];
