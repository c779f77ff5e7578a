// Marketing budget split (LP): enquiries per $100 by channel, channel limits and
// a minimum share of the spending on radio.

{string} Channels = ...;

float enquiriesPer100[Channels] = ...;
float maxSpend[Channels] = ...;      // $ per month at most
float budget = ...;
float minRadioShare = ...;

dvar float+ spend[Channels] ;

maximize enquiries: sum(c in Channels) enquiriesPer100[c] / 100 * spend[c];

subject to {
  total: sum(c in Channels) spend[c] <= budget;
  forall(c in Channels)
    limit: spend[c] <= maxSpend[c];
  radioPresence: spend["radio"] >= minRadioShare * sum(c in Channels) spend[c];
}
