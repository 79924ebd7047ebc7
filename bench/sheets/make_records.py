#!/usr/bin/env python3
"""Random registrations for the reply-sheet benchmark, as the form would collect them.

Writes one record per line (Windows code page, tab-separated, the 26 fields in the order
sheet_print expects). Names with umlauts, long names, empty optional answers, VIP wanted or
not. The lists' values are read from res/VelkRun.rc, the same source the form fills them from.
    make_records.py COUNT SEED OUT.tsv
"""
import random
import re
import sys
from pathlib import Path

FIELDS = ("username password_1 aggraccept vipkunde vorname nachname firm addr city zip land tel fax "
          "alt berstell lebkindih pctyp betrsystem anwender gprod gprodg wgekauf dgekauf pgekauf "
          "kaufoft titel").split()

FIRST = ["Anna", "Jürgen", "Björn", "Käthe", "Günther", "Sören", "Maximilian", "Lea", "Jörg", "Ömer",
         "Françoise", "Hans-Peter", "Marie-Luise", "Till", "Ute", "Bärbel", "Emil", "Zoë", "Konstantin",
         "Dörte", "Friedrich-Wilhelm", "Ilse", "Paul", "Ruth"]
LAST = ["Müller", "Schäfer", "Weiß", "Groß", "Köhler", "Bäcker", "Schmidt", "Meier", "Hoffmann",
        "Krüger", "Schröder", "Löwenthal", "Zimmermann", "Wagner", "Öztürk", "Brückner", "Vogt",
        "Schulze-Dürrenmatt", "von Hohenstaufen-Mühlberg", "Fuchs", "Lange", "Jäger"]
FIRMS = ["Kontor AG", "Müller & Söhne KG", "Bäckerei Groß", "Datenwerk GmbH", "Ingenieurbüro Weiß",
         "Stadtwerke Lüneburg", "Hansen Logistik GmbH & Co. KG"]
STREETS = ["Hauptstraße", "Bahnhofstraße", "Am Mühlbach", "Lindenweg", "Schloßallee", "Kirchgasse",
           "Königsberger Straße", "Jägerstieg", "Friedrich-Ebert-Platz", "Große Bäckerstraße"]
TOWNS = [("Köln", "50667"), ("München", "80331"), ("Lübeck", "23552"), ("Göttingen", "37073"),
         ("Düsseldorf", "40213"), ("Hamburg", "20457"), ("Fürth", "90762"), ("Saarbrücken", "66111"),
         ("Neustadt an der Weinstraße", "67433"), ("Wien", "1010"), ("Zürich", "8001")]
WORDS = ["Sonne", "Garten", "Winter", "Tiger", "Falke", "Kaffee", "Hafen", "Nebel", "Blume"]
TITLES = ["VELK Atlas 2003", "VELK Lexikon Deluxe", "Sprachkurs Französisch 2", "Routenplaner Europa",
          "Fotostudio Pro 5", "Kochbuch Digital", "Steuerhelfer 2002", "Das große Tierlexikon"]
PRODUCTS = ["VELK Atlas", "Sprachkurs Englisch", "Fotostudio", "Lexikon 2001"]
DOMAINS = ["example.org", "web.de", "mail.example.com", "t-online.de"]


def read_lists(rc_path):
    text = Path(rc_path).read_bytes().decode("cp1252")
    block = re.search(r"IDD_REGISTRATION RCDATA\s*BEGIN(.*?)\bEND", text, re.S).group(1)
    lists = {}
    for name, body in re.findall(r"(IDC_REG_\w+),(.*?)\"\\0\",", block, re.S):
        items = [s[:-2] for s in re.findall(r'"((?:[^"\\]|\\.)*?\\0)"', body)]
        lists[name] = [i for i in items if i]
    return lists


def ascii_mail(name):
    table = str.maketrans({"ä": "ae", "ö": "oe", "ü": "ue", "ß": "ss", "Ä": "Ae", "Ö": "Oe", "Ü": "Ue",
                           "ç": "c", "ë": "e", " ": "", "'": ""})
    return name.translate(table).lower()


def password(rng):
    if rng.random() < 0.7:
        return rng.choice(WORDS) + str(rng.randint(1, 9999))
    alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(6, 10)))


def record(rng, lists, serial):
    surveys = {k: v[1:] for k, v in lists.items() if v and v[0] == "Bitte wählen"}

    def survey(name):
        return "" if rng.random() < 0.25 else rng.choice(surveys[name])

    first, last = rng.choice(FIRST), rng.choice(LAST)
    town, zip_code = rng.choice(TOWNS)
    vip = rng.random() < 0.6
    r = dict(
        username=f"{ascii_mail(first)}.{ascii_mail(last)}@{rng.choice(DOMAINS)}" if vip else "",
        password_1=password(rng) if vip else "",
        aggraccept="ja" if vip else "nein",
        vipkunde=rng.choice(["ja", "nein"]),
        vorname=first, nachname=last,
        firm=rng.choice(FIRMS) if rng.random() < 0.4 else "",
        addr=f"{rng.choice(STREETS)} {rng.randint(1, 180)}{rng.choice(['', '', '', 'a', 'b'])}",
        city=town, zip=zip_code,
        land=rng.choice(lists["IDC_REG_COUNTRY"]) if rng.random() < 0.3 else "Deutschland",
        tel=f"0{rng.randint(20, 9999)} {rng.randint(10000, 9999999)}" if rng.random() < 0.6 else "",
        fax=f"0{rng.randint(20, 9999)} {rng.randint(10000, 9999999)}" if rng.random() < 0.3 else "",
        alt=survey("IDC_REG_AGE"), berstell=survey("IDC_REG_OCCUPATION"),
        lebkindih=survey("IDC_REG_CHILDREN"), pctyp=survey("IDC_REG_PCTYPE"),
        betrsystem=survey("IDC_REG_OS"), anwender=survey("IDC_REG_SKILL"),
        # Unique per record: it tells this generator's PDFs from other print jobs.
        gprod=f"VM-{rng.randint(1000, 9999)}-{serial:04d}",
        gprodg=survey("IDC_REG_WHERE"), wgekauf=survey("IDC_REG_HOWKNOWN"),
        dgekauf=f"{rng.randint(1, 28):02d}.{rng.randint(1, 12):02d}.{rng.randint(1999, 2003)}",
        pgekauf=rng.choice(PRODUCTS) if rng.random() < 0.3 else "",
        kaufoft=survey("IDC_REG_HOWOFTEN"),
        titel=rng.choice(TITLES))
    return [r[f] for f in FIELDS]


def main():
    count, seed, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    lists = read_lists(Path(__file__).resolve().parents[2] / "res" / "VelkRun.rc")
    rng = random.Random(seed)
    with open(out, "wb") as f:
        for i in range(count):
            f.write(("\t".join(record(rng, lists, seed * 10000 + i + 1)) + "\r\n").encode("cp1252"))


if __name__ == "__main__":
    main()
