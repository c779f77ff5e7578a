tuple Worker { string name; {string} skills; }
{string} Skills = {"a", "b"};
{Worker} W = ...;
dvar boolean asg[W][Skills];
subject to { forall(w in W, k in Skills : k not in w.skills) asg[w][k] == 0; }
