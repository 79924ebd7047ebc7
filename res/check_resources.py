#!/usr/bin/python3
"""Compiles VelkRun.rc with windres and checks the compiled resources against what the code
and the registration desk rely on: dialog layouts and styles, the string table (ids 1 to 87,
code page 1252 characters, underscore runs of the printed form lines), the drop-down list
table, the pictures and the manifest.

Usage: check_resources.py [path/to/windres]   (default i686-w64-mingw32-windres)
       check_resources.py --exe path/to/VelkRun.exe
The second form checks the resources linked into a built program instead (Debian's
python3-pefile reads them), so what ships is what is checked.
Exit status 0 when everything holds; every failure is listed.
"""

import os
import re
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 5, 6, 10, 14, 16, 24
LANG_DE = 0x0407

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
    return cond


# ---------------------------------------------------------------------------------------------
# .res reading


def read_id(data, pos):
    if struct.unpack_from("<H", data, pos)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def read_res(path):
    data = open(path, "rb").read()
    res = {}
    pos = 0
    while pos < len(data):
        size, header_size = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        p = (p + 3) & ~3
        _, _, lang = struct.unpack_from("<IHH", data, p)
        body = data[pos + header_size:pos + header_size + size]
        if size or rtype != 0:
            res[(rtype, name)] = (lang, body)
        pos = (pos + header_size + size + 3) & ~3
    return res


def read_exe(path):
    """The resources of a built program, keyed like read_res: (type, name) -> (language, bytes)."""
    import pefile  # only this form needs it

    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    res = {}
    if not check(hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"), "%s has no resources" % path):
        return res

    def key(entry):
        return entry.id if entry.name is None else entry.name.decode("utf-8")

    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            langs = name.directory.entries
            check(len(langs) == 1, "resource %r %r in %d languages" % (key(rtype), key(name), len(langs)))
            for lang in langs:
                data = lang.data.struct
                res[(key(rtype), key(name))] = (lang.id, pe.get_data(data.OffsetToData, data.Size))
    return res


def read_sz(data, pos):
    """A NUL-terminated UTF-16 string, or an ordinal (0xFFFF, id)."""
    if struct.unpack_from("<H", data, pos)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    return read_id(data, pos)


CLASS_ATOMS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x85: "ComboBox"}


def parse_dialogex(data):
    dlg_ver, sig, help_id, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    pos = 26
    menu, pos = read_sz(data, pos)
    cls, pos = read_sz(data, pos)
    title, pos = read_sz(data, pos)
    point, weight, italic, charset = struct.unpack_from("<HHBB", data, pos)
    face, pos = read_id(data, pos + 6)
    controls = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        c_help, c_ex, c_style, cx_, cy_, cw, ch, cid = struct.unpack_from("<IIIhhhhI", data, pos)
        pos += 24
        ccls, pos = read_sz(data, pos)
        ccls = CLASS_ATOMS.get(ccls, ccls)
        text, pos = read_sz(data, pos)
        extra = struct.unpack_from("<H", data, pos)[0]
        pos += 2 + extra
        controls.append(dict(id=cid, cls=ccls, style=c_style, exstyle=c_ex, rect=(cx_, cy_, cw, ch), text=text))
    return dict(version=(dlg_ver, sig), exstyle=exstyle, style=style, rect=(x, y, cx, cy), title=title,
                font=(point, weight, italic, charset, face), controls=controls)


def parse_strings(res):
    strings = {}
    for (rtype, block), (lang, body) in res.items():
        if rtype != RT_STRING:
            continue
        check(lang == LANG_DE, "string block %d not German" % block)
        pos = 0
        for i in range(16):
            n = struct.unpack_from("<H", body, pos)[0]
            pos += 2
            if n:
                strings[(block - 1) * 16 + i] = body[pos:pos + 2 * n].decode("utf-16-le")
            pos += 2 * n
    return strings


# ---------------------------------------------------------------------------------------------
# Expectations

WS_CV = 0x50000000  # WS_CHILD | WS_VISIBLE
TAB, GROUP, BORDER, VSCROLL = 0x00010000, 0x00020000, 0x00800000, 0x00200000
LABEL = WS_CV | GROUP  # left-aligned static
GROUPBOX = WS_CV | 0x7
EDIT = WS_CV | BORDER | TAB | 0x80  # ES_AUTOHSCROLL
PASSWORD = EDIT | 0x20
COMBO = WS_CV | VSCROLL | TAB | 0x3  # CBS_DROPDOWNLIST
CHECK = WS_CV | TAB | 0x3  # BS_AUTOCHECKBOX
PUSH = WS_CV | TAB
DATE = WS_CV | TAB | 0x20  # DTS_SHORTDATEFORMAT | DTS_RIGHTALIGN

RUNNER = [
    (1000, "Button", 0x50010000, (31, 164, 84, 14), "Registrieren offline"),
    (1001, "Button", 0x50010000, (133, 164, 84, 14), "Registrieren online"),
    (1057, "Button", 0x50010000, (235, 164, 84, 14), "nicht mehr erinnern"),
    (1002, "Button", 0x50010000, (86, 182, 75, 14), "Programm starten"),
    (1058, "Button", 0x50010000, (188, 182, 75, 14), "Beenden"),
    (1032, "Static", 0x50020000, (7, 7, 336, 154), "Static"),
]

# id, class, style, rectangle, string that the form writes into it (None: none)
FORM = [
    (1057, "Static", LABEL, (4, 3, 54, 8), 13),
    (1056, "Static", LABEL, (347, 3, 129, 8), 1),
    (1059, "Static", LABEL, (23, 14, 442, 18), 29),
    (1032, "Button", GROUPBOX | 0x300, (4, 33, 472, 57), 11),  # BS_CENTER
    (1017, "Static", LABEL, (8, 46, 43, 8), 2),
    (1034, "Edit", EDIT, (53, 43, 90, 14), None),
    (1018, "Static", LABEL, (8, 60, 43, 8), 3),
    (1004, "Edit", EDIT, (53, 58, 90, 14), None),
    (1019, "Static", LABEL, (8, 75, 43, 8), 4),
    (1007, "Edit", EDIT, (53, 73, 90, 14), None),
    (1020, "Static", LABEL, (178, 46, 43, 8), 5),
    (1008, "Edit", EDIT, (224, 43, 90, 14), None),
    (1021, "Static", LABEL, (178, 60, 43, 8), 6),
    (1009, "Edit", EDIT, (224, 58, 90, 14), None),
    (1022, "Static", LABEL, (178, 76, 43, 8), 7),
    (1023, "ComboBox", COMBO, (224, 73, 90, 82), None),
    (1012, "Static", LABEL, (357, 46, 26, 8), 8),
    (1003, "Edit", EDIT, (386, 43, 80, 14), None),
    (1024, "Static", LABEL, (357, 62, 26, 8), 9),
    (1025, "Edit", EDIT, (386, 58, 80, 14), None),
    (1026, "Static", LABEL, (357, 76, 26, 8), 10),
    (1027, "Edit", EDIT, (386, 73, 80, 14), None),
    (1036, "Button", GROUPBOX, (4, 94, 472, 72), 15),
    (1029, "Static", LABEL, (8, 107, 56, 8), 14),
    (1010, "Edit", WS_CV | BORDER | 0x800 | 0x80, (66, 104, 77, 14), None),  # ES_READONLY
    (1035, "Static", LABEL, (157, 107, 23, 8), 32),
    (1006, "Edit", WS_CV | BORDER | 0x800, (184, 104, 282, 14), None),
    (1030, "Static", LABEL, (8, 124, 118, 8), 16),
    (1050, "ComboBox", COMBO, (135, 122, 130, 109), None),
    (1031, "Static", LABEL, (275, 124, 105, 8), 17),
    (1055, "ComboBox", COMBO, (384, 122, 83, 109), None),
    (1058, "Static", LABEL, (8, 138, 127, 8), 33),
    (1060, "SysDateTimePick32", DATE, (135, 136, 130, 13), None),
    (1061, "Static", LABEL, (275, 138, 105, 8), 34),
    (1062, "ComboBox", COMBO, (384, 136, 83, 109), None),
    (1063, "Static", LABEL, (8, 152, 267, 8), None),
    (1015, "Edit", EDIT, (277, 149, 190, 14), None),
    (1037, "Button", GROUPBOX, (4, 170, 472, 100), 18),
    (1039, "Static", LABEL, (9, 181, 458, 9), 19),
    (1066, "Button", CHECK, (9, 196, 21, 10), None),
    (1028, "Static", LABEL, (152, 197, 174, 8), 12),
    (1005, "Edit", EDIT, (331, 194, 136, 14), None),
    (1041, "Static", LABEL, (152, 213, 40, 8), 31),
    (1014, "Edit", PASSWORD, (198, 210, 75, 14), None),
    (1064, "Static", LABEL, (297, 213, 89, 8), 36),
    (1016, "Edit", PASSWORD, (391, 210, 75, 14), None),
    (1068, "Static", LABEL, (9, 228, 460, 26), 37),
    (1069, "Static", LABEL, (9, 258, 90, 8), 38),
    (1067, "Button", CHECK, (108, 257, 21, 10), None),
    (1042, "Button", GROUPBOX, (4, 273, 472, 45), 22),
    (1033, "Static", LABEL, (7, 286, 56, 8), 23),
    (1043, "ComboBox", COMBO, (65, 284, 74, 82), None),
    (1044, "Static", LABEL, (145, 286, 59, 8), 24),
    (1045, "ComboBox", COMBO, (208, 284, 82, 82), None),
    (1046, "Static", LABEL, (301, 282, 54, 17), 25),
    (1047, "ComboBox", COMBO, (373, 284, 92, 82), None),
    (1051, "Static", LABEL, (12, 302, 35, 8), 26),
    (1052, "ComboBox", COMBO, (48, 300, 91, 82), None),
    (1053, "Static", LABEL, (154, 302, 49, 8), 27),
    (1054, "ComboBox", COMBO, (208, 300, 82, 97), None),
    (1049, "Static", LABEL, (296, 301, 69, 8), 28),
    (1048, "ComboBox", COMBO, (373, 301, 92, 82), None),
    (1000, "Button", PUSH, (51, 323, 82, 14), None),
    (1001, "Button", PUSH | 0x1, (144, 323, 82, 14), None),  # BS_DEFPUSHBUTTON
    (2, "Button", PUSH, (382, 323, 50, 14), None),
]

FORM_TEXTS = {1063: "Haben Sie schon einmal ein Produkt von VELK Media gekauft? Wenn ja, welches?",
              1066: "ja", 1067: "ja", 1000: "Als Fax/Brief drucken", 1001: "Als E-Mail versenden", 2: "Abbrechen"}

# Item counts and the first items of each list; the code selects by index.
LISTS = {1023: 43, 1050: 7, 1055: 9, 1062: 4, 1043: 7, 1045: 7, 1047: 4, 1052: 9, 1054: 11, 1048: 4}

# Underscore runs of the printed form lines: the answers are placed by character counts.
RUNS = {61: [15, 24, 23], 62: [81], 63: [18, 28, 21], 64: [32, 43], 66: [15, 53], 67: [57], 68: [60],
        69: [55], 70: [35], 71: [63], 73: [], 74: [47], 75: [45], 76: [79], 80: [64], 82: [72], 83: [71],
        84: [60], 85: [80], 86: [74], 87: [69]}

FIXED_STRINGS = {
    1: "Für *-Felder ist eine Eingabe erforderlich", 4: "Straße *", 13: "Registrierung",
    39: "ja", 40: "nein", 50: "VELK Media Registrierung", 51: "Produktregistrierung", 52: "Antwort",
    54: "VIP-Service", 60: "Ihre Adresse", 65: "Gekauftes Produkt", 72: "VIP-Service",
    79: "Passwort abändern.", 81: "Optionale Angaben",
    62: "Straße  " + "_" * 81,
}

# ---------------------------------------------------------------------------------------------


def check_dialogs(res):
    dialogs = {}
    for dlg_id in (102, 129, 131):
        entry = res.get((RT_DIALOG, dlg_id))
        if not check(entry is not None, "dialog %d missing" % dlg_id):
            continue
        lang, body = entry
        check(lang == LANG_DE, "dialog %d not German" % dlg_id)
        d = parse_dialogex(body)
        dialogs[dlg_id] = d
        check(d["version"] == (1, 0xFFFF), "dialog %d is not an extended template" % dlg_id)
        check(d["font"] == (8, 0, 0, 1, "MS Sans Serif"), "dialog %d font %r" % (dlg_id, d["font"]))
        for c in d["controls"]:
            check(c["exstyle"] == 0, "dialog %d control %d has extended style" % (dlg_id, c["id"]))

    d = dialogs.get(102)
    if d:
        check(d["style"] == 0x90C000C0, "runner style %#x" % d["style"])
        check(d["exstyle"] == 0x00040000, "runner extended style %#x" % d["exstyle"])
        check(d["rect"] == (0, 0, 350, 199) and d["title"] == "VelkRunner", "runner frame")
        got = [(c["id"], c["cls"], c["style"], c["rect"], c["text"]) for c in d["controls"]]
        check(got == RUNNER, "runner controls differ: %r" % got)

    d = dialogs.get(129)
    if d:
        check(d["style"] == 0x80C800C0, "form style %#x" % d["style"])
        check(d["exstyle"] == 0, "form extended style")
        check(d["rect"] == (0, 0, 480, 341), "form size")
        check(d["title"] == "VELK Media - Registrierung", "form title")
        check(len(d["controls"]) == 65, "form has %d controls" % len(d["controls"]))
        for c, (cid, cls, style, rect, _) in zip(d["controls"], FORM):
            where = "form control %d" % cid
            check(c["id"] == cid, "%s: found id %d in its place" % (where, c["id"]))
            # Class names are matched without regard to case; windres writes named classes in capitals.
            check(str(c["cls"]).lower() == cls.lower(), "%s class %r" % (where, c["cls"]))
            check(c["style"] == style, "%s style %#x, want %#x" % (where, c["style"], style))
            check(c["rect"] == rect, "%s rectangle %r" % (where, c["rect"]))
        first_tab = next((c["id"] for c in d["controls"] if c["style"] & TAB), None)
        check(first_tab == 1034, "first tab stop of the form is %r" % first_tab)
        check("&" not in "".join(c["text"] for c in d["controls"] if isinstance(c["text"], str)),
              "form captions carry a mnemonic")

    d = dialogs.get(131)
    if d:
        check(d["style"] == 0x80C800C0 and d["rect"] == (0, 0, 186, 58) and d["title"] == "Dialog", "notice frame")
        got = [(c["id"], c["cls"], c["style"], c["rect"], c["text"]) for c in d["controls"]]
        want = [(1, "Button", PUSH | 0x1, (69, 37, 50, 14), "OK"),
                (1032, "Static", LABEL | 0x1, (7, 7, 172, 20),
                 "Bitte, füllen Sie alle Felder aus, die vom Symbol '*' bezeichnet sind")]
        check(got == want, "notice controls differ: %r" % got)
    return dialogs


def check_strings(res, dialogs):
    s = parse_strings(res)
    check(sorted(s) == list(range(1, 88)), "string ids are %r" % sorted(s))
    for sid, text in s.items():
        try:
            text.encode("cp1252")
        except UnicodeEncodeError:
            failures.append("string %d holds a character outside code page 1252" % sid)
        check(text != "", "string %d empty" % sid)
    for sid, text in FIXED_STRINGS.items():
        check(s.get(sid) == text, "string %d is %r" % (sid, s.get(sid)))
    # The UTF-16 units windres stores must be the code page 1252 bytes widened.
    check(s.get(4, "").encode("utf-16-le") == "Straße *".encode("cp1252").decode("latin-1").encode("utf-16-le"),
          "string 4 not stored as cp1252 characters")
    check(s.get(1, "")[1:2] == "\u00fc", "string 1: u umlaut not U+00FC")

    # Labels: each string equals the template caption of the control that shows it.
    form = dialogs.get(129)
    if form:
        by_id = {c["id"]: c for c in form["controls"]}
        for cid, _, _, _, sid in FORM:
            text = by_id.get(cid, {}).get("text")
            if sid is not None and text:
                check(s.get(sid) == text, "string %d %r differs from the caption of %d %r" % (sid, s.get(sid), cid, text))
            if cid in FORM_TEXTS:
                check(text == FORM_TEXTS[cid], "caption of %d is %r" % (cid, text))
        used = {sid for *_, sid in FORM if sid is not None}
        check(used | {20, 21, 30, 35} == set(range(1, 39)), "label strings used by the form: %r" % sorted(used))

    mail = s.get(41, "").split("\r\n")
    check(len(mail) == 8 and mail[3] == "" and not s.get(41, "").endswith("\r\n"), "string 41 line layout")
    check(s.get(41, "").count("%s") == 2 and "%" not in s.get(41, "").replace("%s", ""), "string 41 format fields")
    check(len(mail) > 5 and '"Einfügen (Strg.+V)"' in mail[5], "string 41 quotes")
    check(mail[-2:] == ["Empfänger: %s", "Betreff: %s"], "string 41 last lines")
    check(len(s.get(42, "").split("\r\n")) == 4 and s.get(42, "").endswith("Vielen Dank"), "string 42 line layout")
    for sid, text in s.items():
        check("\n" not in text.replace("\r\n", "") and "\r" not in text.replace("\r\n", ""),
              "string %d holds a bare CR or LF" % sid)
        if sid not in (41, 42):
            check("\r\n" not in text, "string %d holds a line break" % sid)

    for sid, runs in RUNS.items():
        text = s.get(sid, "")
        check([len(r) for r in re.findall("_+", text)] == runs, "string %d underscore runs" % sid)
        for m in re.finditer("_+", text):
            before, after = text[:m.start()], text[m.end():]
            check(before.endswith("  ") and not before.endswith("   "), "string %d: two blanks before a run" % sid)
            check(after == "" or (after.startswith("  ") and not after.startswith("   ")),
                  "string %d: two blanks after a run" % sid)

    # The publisher's data must read the same wherever it appears.
    company, street, town, fax = s.get(53, ""), s.get(55, ""), s.get(56, ""), s.get(59, "")
    number = fax.split(": ", 1)[-1]
    check(s.get(29, "").startswith("Bitte versenden Sie Ihr Antwortschreiben direkt per E-Mail oder per Brief "
                                   "an die Adresse: "), "string 29 opening")
    check(("%s, VIP-Servie, %s, %s, oder faxen Sie es an die Nummer %s." % (company, street, town, number))
          in s.get(29, ""), "string 29 does not match strings 53, 55, 56 and 59")
    site = re.search(r"www\.[\w.-]+", s.get(78, ""))
    check(site is not None and site.group(0) in s.get(37, ""), "web site of strings 37 and 78 differs")
    check(s.get(37, "").startswith("Wählen Sie ein Passwort für den Zugang in den VIP-Service-Bereich. "
                                   "Bei der Offline-Registrierung wird VELK Media Ihren Benutzernamen und Ihr "
                                   "Passwort eintragen. "), "string 37 opening")
    return s


def check_lists(res, dialogs):
    entry = res.get((RT_RCDATA, 129))
    if not check(entry is not None, "list table RCDATA 129 missing"):
        return
    data = entry[1]
    pos = 0
    lists = {}
    while True:
        if not check(pos + 2 <= len(data), "list table runs out before its end mark"):
            return
        cid = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        if cid == 0:
            break
        items = []
        while True:
            end = data.find(b"\0", pos)
            if not check(end >= 0, "list %d unterminated" % cid):
                return
            item = data[pos:end]
            pos = end + 1
            if not item:
                break
            items.append(item.decode("cp1252"))
        check(cid not in lists, "list %d given twice" % cid)
        lists[cid] = items
    check(all(b == 0 for b in data[pos:]), "bytes after the list table")
    check({k: len(v) for k, v in lists.items()} == LISTS, "list sizes %r" % {k: len(v) for k, v in lists.items()})
    combos = {c["id"] for c in dialogs.get(129, {}).get("controls", []) if c["cls"] == "ComboBox"}
    check(set(lists) == combos, "list table ids differ from the form's drop-down lists")
    for cid, items in lists.items():
        if cid != 1023:
            check(items[:1] == ["Bitte wählen"], "list %d does not start with 'Bitte wählen'" % cid)
    country = lists.get(1023, [])
    check(country[5:6] == ["Deutschland"] and country[-1:] == ["Andere Länder"], "country list order")
    check(b"Bitte w\xe4hlen\0" in data and b"Regelm\xe4\xdfiger Anwender\0" in data, "list items not in cp1252")


def check_pictures(res):
    entry = res.get((RT_BITMAP, 140))
    if check(entry is not None, "bitmap 140 missing"):
        hdr = struct.unpack_from("<IiiHHI", entry[1], 0)
        check(hdr == (40, 528, 326, 1, 24, 0), "bitmap 140 header %r" % (hdr,))

    entry = res.get(("USER", 139))
    if check(entry is not None, "logo USER 139 missing"):
        logo = entry[1]
        check(logo == open(os.path.join(HERE, "logo.bmp"), "rb").read(), "logo resource is not logo.bmp")
        check(len(logo) == 23864 and logo[:2] == b"BM", "logo size %d" % len(logo))
        info = struct.unpack_from("<IiiHHIIiiII", logo, 14)
        check(info[:6] == (40, 128, 62, 1, 24, 0) and info[7:9] == (2834, 2834) and info[9] == 0,
              "logo header %r" % (info,))
        check(struct.unpack_from("<I", logo, 2)[0] == len(logo), "logo bfSize")

    entry = res.get((RT_GROUP_ICON, 128))
    if check(entry is not None, "icon group 128 missing"):
        grp = entry[1]
        count = struct.unpack_from("<HHH", grp, 0)[2]
        sizes = []
        for i in range(count):
            w, h, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", grp, 6 + 14 * i)
            sizes.append((w, h, bits))
            icon = res.get((RT_ICON, icon_id))
            if check(icon is not None, "icon image %d missing" % icon_id):
                ih = struct.unpack_from("<IiiHH", icon[1], 0)
                check(ih == (40, w, 2 * h, 1, 8), "icon image %d header %r" % (icon_id, ih))
        check(sizes == [(32, 32, 8), (16, 16, 8)], "icon sizes %r" % sizes)

    entry = res.get((RT_MANIFEST, 1))
    if check(entry is not None, "manifest missing"):
        check(entry[0] == 0, "manifest not language neutral")
        text = entry[1].decode("utf-8")
        check('name="Microsoft.Windows.Common-Controls"' in text and 'version="6.0.0.0"' in text
              and 'processorArchitecture="x86"' in text, "manifest lacks Common Controls 6")
        check("requestedExecutionLevel" not in text and "trustInfo" not in text,
              "manifest sets an execution level (would switch off registry virtualization)")

    entry = res.get((RT_VERSION, 1))
    if check(entry is not None, "version block missing"):
        blob = entry[1].decode("utf-16-le", "replace")
        check("VELK Media Produktregistrierung" in blob and "040704E4" in blob, "version block texts")


def check_all(res):
    raw = open(os.path.join(HERE, "VelkRun.rc"), "rb").read()
    check(raw.startswith(b"#pragma code_page(1252)"), "code page pragma not at the top")
    check(b"Stra\xdfe" in raw and b"\xc3" not in raw, "VelkRun.rc is not stored in code page 1252")
    dialogs = check_dialogs(res)
    check_strings(res, dialogs)
    check_lists(res, dialogs)
    check_pictures(res)


def main():
    if sys.argv[1:2] == ["--exe"]:
        if len(sys.argv) != 3:
            print(__doc__)
            return 2
        check_all(read_exe(sys.argv[2]))
        return report()
    windres = sys.argv[1] if len(sys.argv) > 1 else "i686-w64-mingw32-windres"
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "VelkRun.res")
        run = subprocess.run([windres, "--codepage=1252", "-I", HERE, "-i", os.path.join(HERE, "VelkRun.rc"),
                              "-o", out, "-O", "res"], cwd=HERE, capture_output=True, text=True)
        if run.returncode != 0 or run.stderr.strip():
            print(run.stderr)
            check(run.returncode == 0, "windres failed")
            check(not run.stderr.strip(), "windres warned")
        if run.returncode == 0:
            check_all(read_res(out))
    return report()


def report():
    for f in failures:
        print("FAIL:", f)
    print("%s: %d problem(s)" % ("OK" if not failures else "FAILED", len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
