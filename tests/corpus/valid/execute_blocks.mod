execute PRE { var s = "}"; /* } */ // }
 cplex.tilim = 5; if (1) { writeln('x}'); } }
dvar float+ x;
minimize x;
subject to { x >= 1; }
execute { writeln(x); }
