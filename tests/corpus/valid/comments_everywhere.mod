// a
/* b
 c */ dvar /* in */ float+ x; // d
minimize x; /**/
