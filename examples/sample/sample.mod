// A small product-mix model: how many tables and chairs to build.
{string} Products = ...;
float profit[Products] = ...;
float hours[Products] = ...;
float capacity = ...;

dvar float+ make[Products];

maximize totalProfit: sum(p in Products) profit[p] * make[p];

subject to {
  workshopHours: sum(p in Products) hours[p] * make[p] <= capacity;
}
