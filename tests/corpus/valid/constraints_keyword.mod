dvar float+ x;
minimize x;
constraints { x >= 2; };
