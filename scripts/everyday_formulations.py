"""Second formulations of the short everyday word problems of the example tree.

Loaded by solve_examples.py, which hands over its modelling helpers with use(); each
function reads the example's parsed .dat values and returns (optimal objective, sense).
"""

Model = lsum = by = by2 = INF = None  # set by use()
FORMULATIONS = {}


def use(helpers: dict) -> None:
    globals().update(helpers)


def formulation(fn):
    FORMULATIONS[fn.__name__] = fn
    return fn


# --------------------------------------------------------------------------- product mixes


@formulation
def ceramics_studio(d):
    m, P = Model(), d["Pieces"]
    x = {p: m.var(0, INF, True) for p in P}
    for key, cap in (("wheelHours", "wheelAvail"), ("clayKg", "clayAvail"), ("kilnSlots", "slotsAvail")):
        use_ = by(P, d[key])
        m.st(lsum(use_[p] * x[p] for p in P) <= d[cap])
    m.st(x["bowl"] <= d["maxBowlsPerMug"] * x["mug"])
    m.st(x["vase"] >= d["minVases"])
    prof = by(P, d["profit"])
    m.maximize(lsum(prof[p] * x[p] for p in P))
    return m.solve(), m.sense


@formulation
def craft_brewery(d):
    m = Model()
    beers = {"Lager": m.var(), "Pale": m.var(), "Stout": m.var()}
    for res, cap in (("brew", "brewHours"), ("tank", "tankDays"), ("hops", "hopsKg")):
        m.st(lsum(d[res + b] * v for b, v in beers.items()) <= d[cap])
    total = lsum(beers.values())
    m.st(beers["Stout"] <= d["maxStoutShare"] * total)
    m.st(beers["Lager"] >= d["lagerOrder"])
    m.maximize(lsum(d["contrib" + b] * v for b, v in beers.items()))
    return m.solve(), m.sense


@formulation
def soap_workshop(d):
    m, P = Model(), d["Products"]
    x = {p: m.var() for p in P}
    oil, lab, earn = by(P, d["oilLitres"]), by(P, d["labourHours"]), by(P, d["earning"])
    m.st(lsum(oil[p] * x[p] for p in P) <= d["oilAvail"])
    m.st(lsum(lab[p] * x[p] for p in P) <= d["labourAvail"])
    m.st(lsum(x[b] for b in d["Bars"]) <= d["racks"])
    m.st(x["liquid soap"] >= d["minLiquidShare"] * lsum(x.values()))
    m.maximize(lsum(earn[p] * x[p] for p in P))
    return m.solve(), m.sense


@formulation
def bike_assembly(d):
    m = Model()
    e, c = m.var(0, d["batteries"], True), m.var(0, INF, True)
    m.st(d["assemblyE"] * e + d["assemblyCity"] * c <= d["assemblyHours"])
    m.st(d["testE"] * e + d["testCity"] * c <= d["testHours"])
    m.st(d["oneIn"] * e >= e + c)
    m.maximize(d["profitE"] * e + d["profitCity"] * c)
    return m.solve(), m.sense


@formulation
def print_shop(d):
    m, I = Model(), d["Items"]
    x = {i: m.var(0, INF, True) for i in I}
    pm, bm, pr = by(I, d["printMin"]), by(I, d["bindMin"]), by(I, d["profit"])
    m.st(lsum(pm[i] * x[i] for i in I) <= 60 * d["printerHours"])
    m.st(lsum(bm[i] * x[i] for i in I) <= 60 * d["bindingHours"])
    m.st(x["poster"] <= d["posterPaper"])
    m.st(x["calendar"] >= d["calendarOrder"])
    m.st(x["poster"] <= x["calendar"])
    m.maximize(lsum(pr[i] * x[i] for i in I))
    return m.solve(), m.sense


@formulation
def jam_kitchen(d):
    m, J = Model(), d["Jams"]
    fk, fa = by(J, d["fruitKg"]), by(J, d["fruitAvail"])
    x = {j: m.var(0, fa[j] / fk[j]) for j in J}  # the fruit limit as a bound
    sg, st, pr = by(J, d["sugarKg"]), by(J, d["stoveMin"]), by(J, d["profit"])
    m.st(lsum(sg[j] * x[j] for j in J) <= d["sugarAvail"])
    m.st(lsum(st[j] * x[j] for j in J) <= 60 * d["stoveHours"])
    m.st(x["mixed berry"] <= x["strawberry"])
    m.maximize(lsum(pr[j] * x[j] for j in J))
    return m.solve(), m.sense


@formulation
def planter_workshop(d):
    m = Model()
    box, bed = m.var(0, INF, True), m.var(0, INF, True)
    for a, b, cap in (("cutBox", "cutBed", "cutHours"), ("asmBox", "asmBed", "asmHours"),
                      ("cedarBox", "cedarBed", "cedarAvail")):
        m.st(d[a] * box + d[b] * bed <= d[cap])
    m.st(d["ratioBeds"] * box - d["ratioBoxes"] * bed >= 0)
    m.maximize(d["profitBox"] * box + d["profitBed"] * bed)
    return m.solve(), m.sense


@formulation
def electronics_kits(d):
    m = Model()
    b, a = m.var(0, INF, True), m.var(0, d["controllers"], True)
    m.st(d["minutesBasic"] * b + d["minutesAdv"] * a <= 60 * d["volunteerHours"])
    m.st(d["boardsBasic"] * b + d["boardsAdv"] * a <= d["boards"])
    m.st(b + a <= d["maxKits"])
    m.st((1 - d["minAdvShare"]) * a - d["minAdvShare"] * b >= 0)
    m.maximize(d["profitBasic"] * b + d["profitAdv"] * a)
    return m.solve(), m.sense


@formulation
def chocolate_shop(d):
    m, G = Model(), d["Goods"]
    x = {g: m.var() for g in G}
    for key, cap, scale in (("couvertureKg", "couvertureAvail", 1), ("temperMin", "temperHours", 60),
                            ("finishMin", "finishHours", 60)):
        u = by(G, d[key])
        m.st(lsum(u[g] * x[g] for g in G) <= scale * d[cap])
    m.st(x["bar"] >= d["barsPerTruffleBox"] * x["truffle box"])
    pr = by(G, d["profit"])
    m.maximize(lsum(pr[g] * x[g] for g in G))
    return m.solve(), m.sense


@formulation
def screen_printing(d):
    m, I = Model(), d["Items"]
    x = {i: m.var(0, INF, True) for i in I}
    pm, ink, pr = by(I, d["pressMin"]), by(I, d["inkMl"]), by(I, d["profit"])
    m.st(lsum(pm[i] * x[i] for i in I) <= 60 * d["pressHours"])
    m.st(lsum(ink[i] * x[i] for i in I) <= 1000 * d["inkLitres"])
    m.st(x["hoodie"] <= d["maxHoodies"])
    share = d["minShirtShare"]
    m.st((1 - share) * x["T-shirt"] - share * lsum(x[i] for i in I if i != "T-shirt") >= 0)
    m.maximize(lsum(pr[i] * x[i] for i in I))
    return m.solve(), m.sense


# --------------------------------------------------------------------------- shares and splits


@formulation
def allotment_planting(d):
    m, C = Model(), d["Crops"]
    x = {c: m.var() for c in C}
    planted = lsum(x.values())
    m.st(planted <= d["area"])
    for key, cap in (("water", "waterAvail"), ("work", "workAvail")):
        u = by(C, d[key])
        m.st(lsum(u[c] * x[c] for c in C) <= d[cap])
    m.st(x["runner beans"] - d["minBeanShare"] * planted >= 0)
    m.st(x["potatoes"] - d["maxPotatoShare"] * planted <= 0)
    v = by(C, d["value"])
    m.maximize(lsum(v[c] * x[c] for c in C))
    return m.solve(), m.sense


@formulation
def clinic_marketing(d):
    m, C = Model(), d["Channels"]
    cap = by(C, d["maxSpend"])
    x = {c: m.var(0, cap[c]) for c in C}
    m.st(lsum(x.values()) <= d["budget"])
    m.st(x["radio"] >= d["minRadioShare"] * lsum(x.values()))
    rate = by(C, d["enquiriesPer100"])
    m.maximize(lsum(rate[c] * 0.01 * x[c] for c in C))
    return m.solve(), m.sense


@formulation
def energy_cooperative(d):
    m, S = Model(), d["Sources"]
    mx, pr = by(S, d["maxMWh"]), by(S, d["price"])
    x = {s: m.var(0, mx[s]) for s in S}
    m.st(lsum(x.values()) >= d["demand"])
    m.st(lsum(x[s] for s in d["Renewable"]) >= d["minRenewableShare"] * lsum(x.values()))
    m.minimize(lsum(pr[s] * x[s] for s in S))
    return m.solve(), m.sense


@formulation
def library_purchase(d):
    m, K = Model(), d["Kinds"]
    x = {k: m.var(0, INF, True) for k in K}
    pr, sh, ln = by(K, d["price"]), by(K, d["shelfCm"]), by(K, d["loans"])
    m.st(lsum(pr[k] * x[k] for k in K) <= d["budget"])
    m.st(lsum(sh[k] * x[k] for k in K) <= 100 * d["shelfMetres"])
    m.st(x["children"] >= d["minChildShare"] * lsum(x.values()))
    m.st(x["non-fiction"] >= d["minNonFiction"])
    m.maximize(lsum(ln[k] * x[k] for k in K))
    return m.solve(), m.sense


@formulation
def hotel_floor_layout(d):
    m, R = Model(), d["RoomTypes"]
    x = {r: m.var(0, INF, True) for r in R}
    ar, fo, ea = by(R, d["areaM2"]), by(R, d["fitOut"]), by(R, d["earning"])
    m.st(lsum(ar[r] * x[r] for r in R) <= d["floorArea"])
    m.st(lsum(fo[r] * x[r] for r in R) <= d["budget"])
    m.st(x["accessible"] >= d["minAccessibleShare"] * lsum(x.values()))
    m.st(x["family"] >= d["minFamily"])
    m.maximize(lsum(ea[r] * x[r] for r in R))
    return m.solve(), m.sense


@formulation
def retirement_split(d):
    m, A = Model(), d["amount"]
    idx = m.var(0, d["maxIndexShare"] * A)
    bonds = m.var(d["minBondShare"] * A, INF)
    cd = m.var(d["minCD"], INF)
    m.st(idx + bonds + cd == A)
    m.maximize(d["rateIndex"] * idx + d["rateBonds"] * bonds + d["rateCD"] * cd)
    return m.solve(), m.sense


@formulation
def college_savings(d):
    m, O = Model(), d["Options"]
    x = {o: m.var() for o in O}
    rate, risk = by(O, d["rate"]), by(O, d["risk"])
    m.st(lsum(x.values()) == d["total"])
    m.st(lsum((risk[o] - d["maxAvgRisk"]) * x[o] for o in O) <= 0)
    m.st(x["savings account"] >= d["minSavings"])
    m.maximize(lsum(rate[o] * x[o] for o in O))
    return m.solve(), m.sense


@formulation
def credit_union_lending(d):
    m, L = Model(), d["Loans"]
    x = {l: m.var() for l in L}
    rate, loss = by(L, d["rate"]), by(L, d["lossRate"])
    m.st(lsum(x.values()) <= d["funds"])
    m.st(lsum((loss[l] - d["maxLossShare"]) * x[l] for l in L) <= 0)
    m.st(x["small business"] <= d["maxBusinessShare"] * lsum(x.values()))
    m.st(x["car"] >= d["minCar"])
    m.maximize(lsum((rate[l] - loss[l]) * x[l] for l in L))
    return m.solve(), m.sense


@formulation
def endowment_esg(d):
    m, F, E = Model(), d["Funds"], d["endowment"]
    x = {f: m.var(0, d["maxShare"] * E) for f in F}
    ret, sc = by(F, d["expReturn"]), by(F, d["score"])
    m.st(lsum(x.values()) == E)
    m.st(lsum(sc[f] * x[f] for f in F) >= d["minAvgScore"] * E)
    m.maximize(lsum(ret[f] * x[f] for f in F))
    return m.solve(), m.sense


@formulation
def home_upgrades(d):
    m, U = Model(), d["Uses"]
    cap, sv = by(U, d["cap"]), by(U, d["savingPerDollar"])
    x = {u: m.var(0, cap[u]) for u in U}
    m.st(lsum(x.values()) <= d["money"])
    m.st(x["savings account"] >= d["minReserve"])
    m.maximize(lsum(sv[u] * x[u] for u in U))
    return m.solve(), m.sense


@formulation
def pension_bond_ladder(d):
    m, S, A = Model(), d["Securities"], d["amount"]
    x = {s: m.var() for s in S}
    y, yrs = by(S, d["yield"]), by(S, d["years"])
    m.st(lsum(x.values()) == A)
    m.st(lsum(x[s] for s in S if yrs[s] <= 1) >= d["minOneYearShare"] * A)
    m.st(lsum(yrs[s] * x[s] for s in S) <= d["maxAvgYears"] * A)
    m.maximize(lsum(y[s] * x[s] for s in S))
    return m.solve(), m.sense


# --------------------------------------------------------------------------- vehicles and trips


def _two_kinds(bounds, cost, rows, sense="minimize"):
    """Two integer counts with bounds, a linear cost and rows (a, b, lo) meaning a*x + b*y >= lo."""
    m = Model()
    x, y = (m.var(lo, hi, True) for lo, hi in bounds)
    for a, b, lo in rows:
        m.st(a * x + b * y >= lo)
    (m.minimize if sense == "minimize" else m.maximize)(cost[0] * x + cost[1] * y)
    return m.solve(), m.sense


@formulation
def archive_move(d):
    return _two_kinds([(0, d["vans"] * d["vanTripsEach"]), (0, d["trucks"] * d["truckTripsEach"])],
                      (d["vanCost"], d["truckCost"]),
                      [(d["vanBoxes"], d["truckBoxes"], d["boxes"]), (-1, -1, -d["dockTrips"])])


@formulation
def festival_shuttles(d):
    per_shuttle, per_coach = d["shuttleSeats"] * d["shuttleRuns"], d["coachSeats"] * d["coachRuns"]
    return _two_kinds([(0, INF), (0, INF)], (d["shuttleCost"], d["coachCost"]),
                      [(per_shuttle, per_coach, d["visitors"]), (0, -d["coachCO2"] * d["coachRuns"], -d["maxCO2"]),
                       (-1, -1, -d["drivers"])])


@formulation
def gravel_trucks(d):
    return _two_kinds([(0, INF), (0, d["maxLarge"])], (d["smallCost"], d["largeCost"]),
                      [(d["smallLoad"] * d["smallLoads"], d["largeLoad"] * d["largeLoads"], d["tonnes"]),
                       (-1, -1, -d["parking"])])


@formulation
def forklift_purchase(d):
    return _two_kinds([(0, d["chargingPoints"]), (0, INF)], (d["electricPrice"], d["dieselPrice"]),
                      [(d["electricRate"], d["dieselRate"], d["requiredRate"]), (1, -2, 0)])


@formulation
def parcel_couriers(d):
    return _two_kinds([(0, INF), (0, d["vans"])], (d["bikeCost"], d["vanCost"]),
                      [(d["bikeRate"], d["vanRate"], d["parcels"]), (d["bikeRate"], 0, d["oldTownParcels"])])


@formulation
def island_ferry(d):
    return _two_kinds([(0, d["ferryMax"]), (0, d["boatMax"])], (d["ferryCost"], d["boatCost"]),
                      [(d["ferryPassengers"], d["boatPassengers"], d["passengers"]), (d["ferryCars"], 0, d["cars"])])


@formulation
def grain_haulage(d):
    return _two_kinds([(0, d["maxWagonTrips"]), (0, d["maxTruckTrips"])], (d["wagonCost"], d["truckCost"]),
                      [(d["wagonTonnes"], d["truckTonnes"], d["tonnes"])])


@formulation
def rental_fleet(d):
    s = d["minCompactShare"]
    return _two_kinds([(0, INF), (d["minVans"], INF)], (d["compactEarn"], d["vanEarn"]),
                      [(-d["compactPrice"], -d["vanPrice"], -d["budget"]), (-1, -1, -d["spaces"]), (1 - s, -s, 0)],
                      sense="maximize")


# --------------------------------------------------------------------------- diets and blends


def _blend(d, items, price, content, rows, total=None, bounds=None, integer=False, objective=None):
    """Amounts of `items` priced per unit; rows are (content key, lo, hi) on sum(content*x);
    total fixes the sum of the amounts; bounds maps item -> (lo, hi)."""
    m = Model()
    bounds = bounds or {}
    x = {i: m.var(*bounds.get(i, (0, INF)), integer) for i in items}
    for key, lo, hi in rows:
        m.range(lo, lsum(content[key][i] * x[i] for i in items), hi)
    if total is not None:
        m.st(lsum(x.values()) == total)
    m.minimize(objective(x) if objective else lsum(price[i] * x[i] for i in items))
    return m.solve(), m.sense


@formulation
def dog_food_blend(d):
    I, N, kg = d["Ingredients"], d["Nutrients"], d["batchKg"]
    share = by2(I, N, d["share"])
    content = {n: {i: share[i, n] for i in I} for n in N}
    mins = by(N, d["minShare"])
    return _blend(d, I, by(I, d["price"]), content, [(n, mins[n] * kg, INF) for n in N], total=kg,
                  bounds={"pea protein": (0, d["maxPea"] * kg)})


@formulation
def smoothie_recipe(d):
    I, N = d["Ingredients"], d["Nutrients"]
    per = by2(I, N, d["per100g"])
    content = {n: {i: per[i, n] / 100 for i in I} for n in N}
    content["weight"] = {i: 1.0 for i in I}
    lo, hi = by(N, d["minNutrient"]), by(N, d["maxNutrient"])
    rows = [(n, lo[n], hi[n]) for n in N] + [("weight", d["minWeight"], d["maxWeight"])]
    price = {i: c / 100 for i, c in by(I, d["costPer100g"]).items()}
    bounds = {i: (a, b) for i, a, b in zip(I, d["minGrams"], d["maxGrams"])}
    return _blend(d, I, price, content, rows, bounds=bounds)


@formulation
def trail_mix(d):
    S = d["Snacks"]
    content = {k: {s: v / 100 for s, v in by(S, d[k]).items()} for k in ("kcal", "protein", "sugar")}
    rows = [("kcal", d["minKcal"], INF), ("protein", d["minProtein"], INF), ("sugar", -INF, d["maxSugar"])]
    bounds = {s: (lo, INF) for s, lo in by(S, d["minGrams"]).items()}
    return _blend(d, S, {s: 1.0 for s in S}, content, rows, bounds=bounds)


@formulation
def layer_feed(d):
    items = ["corn", "soy", "lime"]
    price = {"corn": d["cornPrice"], "soy": d["soyPrice"], "lime": d["limePrice"]}
    content = {k: {i: d[i + k] for i in items} for k in ("Protein", "Calcium")}
    rows = [("Protein", d["minProtein"], INF), ("Calcium", d["minCalcium"], d["maxCalcium"])]
    return _blend(d, items, price, content, rows, total=1)


@formulation
def lawn_fertilizer(d):
    P, N = d["Products"], d["Nutrients"]
    pct = by2(P, N, d["percent"])
    content = {n: {p: pct[p, n] / 100 for p in P} for n in N}
    content["kg"] = {p: 1.0 for p in P}
    need = by(N, d["need"])
    rows = [(n, need[n], INF) for n in N] + [("kg", -INF, d["maxKg"])]
    return _blend(d, P, by(P, d["price"]), content, rows)


@formulation
def fruit_punch(d):
    J, L = d["Juices"], d["litres"]
    content = {"vitaminC": by(J, d["vitaminC"]), "sugar": by(J, d["sugar"])}
    rows = [("vitaminC", d["minVitaminC"], INF), ("sugar", -INF, d["maxSugar"])]
    return _blend(d, J, by(J, d["price"]), content, rows, total=L,
                  bounds={"cranberry": (d["minCranberryShare"] * L, INF)})


@formulation
def athlete_breakfast(d):
    F = d["Foods"]
    content = {k: by(F, d[k]) for k in ("protein", "carbs", "kcal")}
    rows = [("protein", d["minProtein"], INF), ("carbs", d["minCarbs"], INF), ("kcal", -INF, d["maxKcal"])]
    bounds = {f: (0, mx) for f, mx in by(F, d["maxServings"]).items()}
    return _blend(d, F, by(F, d["price"]), content, rows, bounds=bounds, integer=True)


@formulation
def coffee_blend(d):
    C, kg = d["Coffees"], d["blendKg"]
    content = {"body": by(C, d["body"]), "acidity": by(C, d["acidity"])}
    rows = [("body", d["minBody"] * kg, INF), ("acidity", d["minAcidity"] * kg, INF)]
    bounds = {c: (0, s) for c, s in by(C, d["stock"]).items()}
    bounds["Vietnam robusta"] = (0, min(bounds["Vietnam robusta"][1], d["maxRobustaShare"] * kg))
    return _blend(d, C, by(C, d["price"]), content, rows, total=kg, bounds=bounds)


@formulation
def bird_seed_mix(d):
    S, kg = d["Seeds"], d["sackKg"]
    content = {"fat": by(S, d["fat"]), "protein": by(S, d["protein"])}
    rows = [("fat", d["minFat"] * kg, INF), ("protein", d["minProtein"] * kg, INF)]
    return _blend(d, S, by(S, d["price"]), content, rows, total=kg,
                  bounds={"sunflower": (0, d["maxSunflower"] * kg)})


@formulation
def cat_feeding(d):
    items = ["wet", "dry"]
    content = {k: {i: d[i + k] / 100 for i in items} for k in ("Kcal", "Protein", "Fat")}
    rows = [("Kcal", d["minKcal"], INF), ("Protein", d["minProtein"], INF), ("Fat", -INF, d["maxFat"])]
    price = {i: d[i + "Cost"] / 100 for i in items}
    return _blend(d, items, price, content, rows, bounds={"wet": (d["minWet"], INF)})


# --------------------------------------------------------------------------- staffing


@formulation
def bakery_staffing(d):
    m = Model()
    f, p = m.var(d["minFull"], INF, True), m.var(0, INF, True)
    hf, hp = d["fullShift"], d["partShift"]
    m.st(hf * f + hp * p >= d["hoursNeeded"])
    m.st((d["oneIn"] - 1) * hp * p <= hf * f)
    m.st(f + p <= d["lockers"])
    m.minimize(d["fullWage"] * hf * f + d["partWage"] * hp * p)
    return m.solve(), m.sense


@formulation
def library_shifts(d):
    m, S, P = Model(), d["Shifts"], d["Patterns"]
    cov = by2(P, S, d["covers"])
    full = {p: m.var(0, INF, True) for p in P}
    part = {s: m.var(0, d["maxPartPerShift"], True) for s in S}
    for s in S:
        m.st(lsum(cov[p, s] * full[p] for p in P) + part[s] >= by(S, d["need"])[s])
    m.minimize(d["fullCost"] * lsum(full.values()) + d["partCost"] * lsum(part.values()))
    return m.solve(), m.sense


@formulation
def summer_camp_staff(d):
    return _two_kinds([(0, INF), (0, INF)], (d["seniorPay"], d["juniorPay"]),
                      [(d["seniorKids"], d["juniorKids"], d["children"]), (d["juniorsPerSenior"], -1, 0),
                       (-1, -1, -d["beds"])])


@formulation
def tutoring_center(d):
    s = d["maxPartShare"]
    return _two_kinds([(0, d["desks"]), (0, INF)], (d["fullCost"], d["partCost"]),
                      [(d["fullHours"], d["partHours"], d["hoursBooked"]), (s, s - 1, 0)])


@formulation
def vineyard_harvest(d):
    return _two_kinds([(0, d["maxSeason"]), (0, d["maxHelpers"])], (d["seasonCost"], d["helperCost"]),
                      [(d["seasonDays"] * d["seasonRate"], d["helperDays"] * d["helperRate"], d["tonnes"])])


@formulation
def pharmacy_staffing(d):
    s, hf, hp = d["minFullShare"], d["fullHours"], d["partHours"]
    return _two_kinds([(0, INF), (d["minPart"], INF)], (d["fullCost"], d["partCost"]),
                      [(hf, hp, d["hoursNeeded"]), ((1 - s) * hf, -s * hp, 0)])
