// Print shop (integer): printer and binding minutes, a paper limit for posters,
// a calendar order and posters no more than calendars.

{string} Items = ...;

float profit[Items] = ...;         // $ per item
float printMin[Items] = ...;       // printer minutes per item
float bindMin[Items] = ...;        // binding minutes per item

float printerHours = ...;
float bindingHours = ...;
int posterPaper = ...;             // posters the paper roll allows
int calendarOrder = ...;

dvar int+ produce[Items];

maximize weeklyProfit: sum(i in Items) profit[i] * produce[i];

subject to {
  printer: sum(i in Items) printMin[i] * produce[i] <= 60 * printerHours;
  binding: sum(i in Items) bindMin[i] * produce[i] <= 60 * bindingHours;
  paper:   produce["poster"] <= posterPaper;
  order:   produce["calendar"] >= calendarOrder;
  addOns:  produce["poster"] <= produce["calendar"];
}
