// Multi-period cash planning (LP): choose short-term borrowing and a term loan
// to keep a minimum balance every month and maximize final cash.

int nbMonths = ...;
range Months = 1..nbMonths;
range MonthsAndStart = 0..nbMonths;

float initialCash = ...;
float netFlow[Months] = ...;      // operating cash flow ($k)
float minBalance = ...;
float creditRate = ...;           // monthly, on the credit line
float creditLimit = ...;
float termRate = ...;             // monthly interest on the term loan
float termLimit = ...;
float depositRate = ...;          // monthly interest on cash in the bank

// Timing of the term loan: received in month 1, interest from month 2,
// principal repaid in the last month.
float termIn[t in Months] = (t == 1) ? 1 : 0;
float termOut[t in Months] = (t > 1 ? termRate : 0) + (t == nbMonths ? 1 : 0);

dvar float+ cash[MonthsAndStart];                 // balance at the end of month t
dvar float+ credit[MonthsAndStart] in 0..creditLimit;   // borrowed in month t
dvar float+ term in 0..termLimit;

maximize finalCash: cash[nbMonths];

subject to {
  startCash: cash[0] == initialCash;
  noCreditBefore: credit[0] == 0;
  repaidAtEnd: credit[nbMonths] == 0;

  forall(t in Months) {
    balance: cash[t] == (1 + depositRate) * cash[t - 1] + netFlow[t]
                        + credit[t] - (1 + creditRate) * credit[t - 1]
                        + termIn[t] * term - termOut[t] * term;
    minimumCash: cash[t] >= minBalance;
  }
}
