tuple T { string a; string b; }
{string} A = ...;
{T} S with a in A, b in Bs = ...;
dvar float x;
minimize x;
