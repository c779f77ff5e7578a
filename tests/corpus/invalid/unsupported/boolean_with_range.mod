dvar boolean b in 0..5;
minimize b;
