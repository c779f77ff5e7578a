// Assignment: match each translator to exactly one document, minimizing total hours.

{string} Translators = ...;
{string} Documents = ...;
int hours[Translators][Documents] = ...;

assert square: card(Translators) == card(Documents);

dvar boolean assign[Translators][Documents];   // 1 if t translates d

minimize totalHours: sum(t in Translators, d in Documents) hours[t][d] * assign[t][d];

subject to {
  forall(t in Translators)
    oneDocument: sum(d in Documents) assign[t][d] == 1;
  forall(d in Documents)
    oneTranslator: sum(t in Translators) assign[t][d] == 1;
}
