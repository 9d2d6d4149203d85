#!/usr/bin/env python3
"""Writes the demo installation's record data as CSV, one file per data file,
in the columns of install/layouts/ (scripts/make-root loads them with
`tarndata import`).

The estates, units, leases, concepts and texts are invented but shaped like a
real portfolio: every lease regime, every remark of the revision report and
the dates around each rule's boundary are present.  The price-index file is
the real Spanish series of install/demo/price-index/ (see the README there).
The output is deterministic: run it again after changing it and commit the
CSV files.

    install/demo/make-demo-data.py
"""
import csv
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
LAYOUTS = os.path.join(HERE, "..", "layouts")
rng = random.Random(1994)


def columns(layout):
    """The layout's fields: name and type."""
    fields = []
    with open(os.path.join(LAYOUTS, layout + ".layout"), encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if parts and parts[0] == "field":
                fields.append((parts[1], parts[4]))
    return fields


def write(name, rows):
    fields = columns(name)
    with open(os.path.join(HERE, name + ".csv"), "w", encoding="utf-8", newline="") as f:
        out = csv.DictWriter(f, fieldnames=[n for n, _ in fields], lineterminator="\n")
        out.writeheader()
        for row in rows:
            # A number the row does not give is 0; a text or date, blank.
            values = {n: row.get(n, 0 if t in ("int16", "int32", "double") else "")
                      for n, t in fields}
            for n, v in values.items():
                assert len(str(v)) <= 40, f"{name}: {n} too long: {v}"
            out.writerow(values)


# ---- price indices -------------------------------------------------------

def read_csv(name):
    with open(os.path.join(HERE, "price-index", name), encoding="utf-8") as f:
        return list(csv.DictReader(f))


index = {}
price_rows = []
for r in read_csv("ipc_es_general.csv"):
    y, m = int(r["year"]), int(r["month"])
    index[(y, m)] = float(r["index"])
    price_rows.append({"Country": "ES", "Series": "I", "Month": f"{y:04d}-{m:02d}-01",
                       "Value": r["index"]})
# The cap percentage: 2 % from March 2022 to December 2023, then the
# reference index for leases signed from 26 May 2023 on.
for y, m in [(y, m) for y in (2022, 2023) for m in range(1, 13) if (y, m) >= (2022, 3)]:
    price_rows.append({"Country": "ES", "Series": "P", "Month": f"{y:04d}-{m:02d}-01",
                       "Value": "2"})
for r in read_csv("irav_es.csv"):
    price_rows.append({"Country": "ES", "Series": "P",
                       "Month": f"{int(r['year']):04d}-{int(r['month']):02d}-01",
                       "Value": r["percent"]})
# The linking factors, each dated in 2001 at its month.
for r in read_csv("lau_link_1992_to_2021.csv"):
    price_rows.append({"Country": "ES", "Series": "Q", "Month": f"2001-{int(r['month']):02d}-01",
                       "Value": r["coefficient"]})
write("UIpc", price_rows)


def index_thousandths(y, m):
    """The index applied at a revision in month (y, m): the one published two
    months before, or the latest there is."""
    m -= 2
    if m < 1:
        y, m = y - 1, m + 12
    while (y, m) not in index:
        m -= 1
        if m < 1:
            y, m = y - 1, 12
    return round(index[(y, m)] * 1000)


# ---- concepts and texts --------------------------------------------------

numbered = [
    (1, "LLOGUER", 0), (2, "INCREMENTS IPC", 1), (3, "COMUNITAT", 9), (4, "AIGUA", 9),
    (5, "ESCOMBRARIES", 9), (6, "IBI", 9), (7, "ASCENSOR", 9), (8, "INCREMENT OBRES", 1),
    (9, "ALTRES", 9), (10, "ACTUALITZACIÓ LAU", 1),
]
coded = [
    (20, "IBI REPERCUTIT", 9), (30, "ATRASSOS IPC", 9), (31, "ATRASSOS ACTUALITZ.", 9),
    (40, "LLOGUER PÀRQUING", 0), (41, "INCREMENT PÀRQUING", 1), (50, "FIANÇA", 9),
]
concept_rows = [{"ConceptKey": f"{k:02X}", "Description": d, "ConceptClass": c} for k, d, c in numbered]
concept_rows += [{"ConceptKey": f"{128 + k:02X}", "Description": d, "ConceptClass": c} for k, d, c in coded]
write("TVRebut", concept_rows)

write("Textos", [
    {"TextCode": "REVIPC", "Description": "Revisió de la renda per l'IPC"},
    {"TextCode": "REVIRAV", "Description": "Revisió per l'índex de referència (IRAV)"},
    {"TextCode": "ACTLAU94", "Description": "Actualització de rendes antigues (1994)"},
    {"TextCode": "LIMIT2", "Description": "Revisió limitada al 2 % (2022-2023)"},
    {"TextCode": "LIMIT3", "Description": "Revisió limitada al 3 % (2024)"},
    {"TextCode": "ATRASSOS", "Description": "Reclamació d'endarreriments"},
    {"TextCode": "AVIS", "Description": "Avís breu de l'augment de renda"},
])

# ---- estates -------------------------------------------------------------

streets = [
    "Carrer de Balmes", "Carrer de Muntaner", "Carrer d'Aragó", "Carrer de Provença",
    "Passeig de Sant Joan", "Carrer de Sants", "Carrer Gran de Gràcia", "Carrer de Pujades",
    "Rambla del Poblenou", "Carrer de Verdi", "Carrer de Sardenya", "Carrer de Mallorca",
    "Via Augusta", "Carrer de Calàbria", "C. del Consell de Cent", "Carrer de València",
    "Avinguda de Roma", "Carrer de Llull", "Carrer de Casp", "Carrer de la Indústria",
]
districts = ["08006 Barcelona", "08036 Barcelona", "08011 Barcelona", "08037 Barcelona",
             "08014 Barcelona", "08012 Barcelona", "08005 Barcelona", "08013 Barcelona"]
OWN_ADDRESS = {5, 12, 17}
estates = []
for e in range(1, 21):
    estates.append({
        "EstateCode": f"{e:04d}",
        "Address1": f"{streets[e - 1]}, {rng.randint(2, 240)}",
        "Address2": districts[e % len(districts)],
        "Address3": "BARCELONA",
        "OwnAddress": "P" if e in OWN_ADDRESS else "",
    })
write("FinquesV", estates)

# ---- units and leases ----------------------------------------------------

first = ["Anna", "Jordi", "Marta", "Joan", "Laia", "Pere", "Núria", "Xavier", "Montserrat",
         "Carles", "Mercè", "Albert", "Rosa", "Ramon", "Elena", "Francesc", "Carme", "Oriol"]
last = ["Puig", "Vidal", "Soler", "Serra", "Ferrer", "Roca", "Font", "Sala", "Casals", "Pons",
        "Martí", "Camps", "Riera", "Vila", "Bosch", "Mas", "Comas", "Pujol", "Torras", "Ribas"]
floors = ["Bxs", "Entl", "Pral", "1r", "2n", "3r", "4t", "5è", "Àt"]


def date(y, m, d):
    return f"{y:04d}-{m:02d}-{d:02d}"


# Each kind of lease the revision tells apart; the units cycle through them.
# Dates are (year, month, day); None is no date.
KINDS = [
    # Leases of 1985 to 1994 (regimes 1 and 2), revised yearly.
    ("lau64", lambda: ((rng.randint(1986, 1994), rng.randint(1, 12), rng.randint(1, 28)), 12)),
    ("lau64", lambda: ((rng.randint(1986, 1994), rng.randint(1, 12), rng.randint(1, 28)), 12)),
    # Leases from 1995 on (regime 4), some under the caps of 2022 and later.
    ("lau94", lambda: ((rng.randint(1995, 2021), rng.randint(1, 12), rng.randint(1, 28)), 12)),
    ("lau94", lambda: ((rng.randint(1995, 2021), rng.randint(1, 12), rng.randint(1, 28)), 12)),
    ("lau94", lambda: ((rng.randint(2005, 2022), rng.randint(1, 12), rng.randint(1, 28)), 12)),
    ("recent", lambda: ((rng.randint(2023, 2025), rng.randint(6, 12), rng.randint(1, 28)), 12)),
    # Leases from before 9 May 1985 under the staged update (regime 3).
    ("old", lambda: ((rng.randint(1964, 1984), rng.randint(1, 12), rng.randint(1, 28)), 12)),
    ("old", lambda: ((rng.randint(1964, 1984), rng.randint(1, 12), rng.randint(1, 28)), 12)),
]
# Units that sit exactly on a rule's boundary, or carry a remark.
SPECIAL = [
    ("boundary", (1985, 5, 9)), ("boundary", (1994, 12, 31)), ("boundary", (1985, 5, 8)),
    ("boundary", (1995, 1, 1)), ("boundary", (2023, 5, 24)), ("boundary", (2023, 5, 25)),
    ("boundary", (2023, 5, 26)), ("expired", (2019, 3, 1)), ("expired", (1990, 6, 15)),
    ("nodate", None), ("nodate", None), ("norent", (1992, 4, 1)), ("norent", (2010, 9, 1)),
    ("zeroindex", (1991, 2, 1)), ("zeroindex", (2015, 7, 1)), ("status_m", (1988, 10, 1)),
    ("status_m", (2012, 1, 1)), ("regime2", (1990, 12, 1)), ("regime2", (1993, 12, 1)),
    ("unitclass_n", (2020, 3, 30)),
]

units, transitions = [], []
serial = 0
for e in range(1, 21):
    count = 15 if e != 20 else 16
    for u in range(1, count + 1):
        serial += 1
        kind, contract, revision_months = None, None, 12
        if serial % 15 == 7 and SPECIAL:
            kind, contract = SPECIAL.pop(0)
        else:
            kind, make = KINDS[serial % len(KINDS)]
            contract, revision_months = make()
        rent = rng.randrange(25000, 140000, 500)
        row = {
            "UnitKey": f"{e:04d}{u:04d}",
            "Tenant": f"{rng.choice(last).upper()} {rng.choice(last).upper()}, {rng.choice(first).upper()}",
            "Designation": f"{floors[(u - 1) // 2 % len(floors)]} {1 + (u - 1) % 2}a",
            "ContractDate": date(*contract) if contract else "",
            "ContractMonths": 0, "RevisionMonths": revision_months,
            "UnitStatus": "", "UnitClass": "N" if serial % 3 else "",
            "MonthsPerReceipt": 3 if serial % 11 == 0 else 1,
            "Amount1": rent, "Amount3": rng.choice([0, 3500, 4200, 6000]),
            "Amount6": rng.choice([0, 0, 2100, 3300]),
        }
        if e in OWN_ADDRESS:
            row["Address1"] = f"{streets[(e + u) % len(streets)]}, {rng.randint(2, 120)}"
            row["Address2"] = districts[u % len(districts)]
            row["Address3"] = "BARCELONA"
        if serial % 4 == 0:
            row["Amount2"] = rng.randrange(500, 9000, 50)
        if serial % 9 == 0:
            row["Concept1"], row["ConceptAmount1"] = 40, rng.randrange(6000, 12000, 500)
            row["Concept2"], row["ConceptAmount2"] = 41, rng.randrange(100, 900, 10)
        if serial % 10 == 0:
            row["Concept4"], row["ConceptAmount4"] = 20, rng.randrange(1500, 4000, 100)
        row["Concept3"] = 30 if serial % 5 else 0

        # The last revision: a month of 2025 (due in 2026), of 2026 for a few.
        rev_year = 2025 if serial % 6 else 2026
        rev_month = contract[1] if contract else rng.randint(1, 12)
        last_revision = (rev_year, rev_month, 1)
        if kind == "old" or (kind == "boundary" and contract < (1985, 5, 9)):
            # Old leases carry their transition state; about a third still
            # climb the steps.
            steps_total = [10, 10, 5, 5, 1][serial % 5]
            steps_done = rng.randint(0, steps_total - 1) if serial % 3 else steps_total
            transitions.append({
                "UnitKey": row["UnitKey"],
                "CadastralExempt": "N" if serial % 4 else "S",
                "CadastralValue": rng.randrange(800000, 3000000, 1000),
                "CadastralDate": date(rng.choice([1987, 1989, 1990, 1996]), 1, 1),
                "CadastralMode": "P" if serial % 7 == 0 else "",
                "InitialRent": rng.randrange(3000, 25000, 100),
                "InitialIndex": index_thousandths(1995, 1) if serial % 8 else 0,
                "StepsTotal": steps_total, "StepsDone": steps_done,
            })
        if kind == "expired":
            row["ContractMonths"] = 60
        if kind == "nodate":
            last_revision = None
        if kind == "norent":
            row["Amount1"] = 0
            row["Amount2"] = rng.randrange(500, 3000, 50)
        if kind == "status_m":
            row["UnitStatus"] = "M"
        if kind == "regime2":
            last_revision = (2026, 12, 1)
        if kind == "unitclass_n":
            row["UnitClass"] = "N"
        if serial % 37 == 0:
            row["RevisionMonths"] = 0  # a lease without revisions
        row["LastRevisionDate"] = date(*last_revision) if last_revision else ""
        row["LastIndex"] = 0 if kind == "zeroindex" or not last_revision else index_thousandths(*last_revision[:2])
        units.append(row)
write("DepartaV", units)
write("TranLauV", transitions)
print(f"{len(estates)} estates, {len(units)} units, {len(transitions)} transition records, "
      f"{len(concept_rows)} concepts, {len(price_rows)} price-index values")
