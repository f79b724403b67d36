"""Writes core/src/algorithms/regex/unicode_tables.cpp: the Unicode data of the regex dialect.

It holds, as sorted ranges of scalar values: the general categories (with their groups, Any,
Assigned and ASCII are built at lookup), scripts, script extensions, the binary properties, the
ages, the grapheme-cluster, word and sentence break values and the Perl classes \\w and \\s; the
loose-matching aliases of property names and values; and the simple case-folding orbits.

Run with the Unicode data files of the Debian package unicode-data:
    python3 core/tools/gen_regex_unicode.py /usr/share/unicode \\
        > core/src/algorithms/regex/unicode_tables.cpp
"""

import re
import sys
from pathlib import Path

SURROGATES = range(0xD800, 0xE000)
BINARY_SOURCES = ["PropList.txt", "DerivedCoreProperties.txt", "emoji/emoji-data.txt",
                  "extracted/DerivedBinaryProperties.txt"]
# Properties whose values can be asked for with \p{name=value}.
VALUED = {"Age": "age", "General_Category": "gc", "Script": "sc",
          "Grapheme_Cluster_Break": "GCB", "Sentence_Break": "SB", "Word_Break": "WB"}


def normalize(name):
    """Loose matching: no case, no spaces, underscores or hyphens, no leading "is"."""
    is_prefixed = name[:2].lower() == "is"
    if is_prefixed:
        name = name[2:]
    out = "".join(c.lower() for c in name if c not in " _-" and ord(c) < 0x80)
    return "isc" if is_prefixed and out == "c" else out


def data_lines(path):
    for line in path.read_text().splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            yield [field.strip() for field in line.split(";")]


def code_points(field):
    lo, _, hi = field.partition("..")
    return range(int(lo, 16), int(hi or lo, 16) + 1)


def read_by_value(path, column=1):
    sets = {}
    for fields in data_lines(path):
        sets.setdefault(fields[column], set()).update(code_points(fields[0]))
    return sets


def read_categories(path):
    category, first = {}, None
    for line in path.read_text().splitlines():
        fields = line.split(";")
        code, name, cat = int(fields[0], 16), fields[1], fields[2]
        if name.endswith(", First>"):
            first = code
        elif name.endswith(", Last>"):
            for c in range(first, code + 1):
                category[c] = cat
        else:
            category[code] = cat
    return category


def read_aliases(ucd):
    """Property name aliases and, per valued property, value aliases -> canonical names."""
    names = {}
    for fields in data_lines(ucd / "PropertyAliases.txt"):
        for alias in fields:
            names[normalize(alias)] = fields[1]
    short_to_long = {fields[0]: fields[1] for fields in data_lines(ucd / "PropertyAliases.txt")}
    values = {}
    for fields in data_lines(ucd / "PropertyValueAliases.txt"):
        prop = short_to_long.get(fields[0])
        if prop not in VALUED:
            continue
        canonical, aliases = fields[2], fields[1:]
        table = values.setdefault(prop, {})
        for alias in aliases:
            table.setdefault(normalize(alias), canonical)
    return names, values


def ranges(points):
    out = []
    for c in sorted(points):
        if c in SURROGATES:
            continue
        if out and out[-1][1] == c - 1:
            out[-1][1] = c
        else:
            out.append([c, c])
    return out


def build_sets(ucd, value_aliases):
    category = read_categories(ucd / "UnicodeData.txt")
    gc_names = value_aliases["General_Category"]
    by_gc = {}
    for c in range(0x110000):
        by_gc.setdefault(category.get(c, "Cn"), set()).add(c)
    gencats = {}
    for fields in data_lines(ucd / "PropertyValueAliases.txt"):
        if fields[0] != "gc":
            continue
        short, long_name = fields[1], fields[2]
        if len(short) == 2 and short != "LC":
            members = by_gc.get(short, set())
        else:
            parts = ["Lu", "Ll", "Lt"] if short == "LC" else [k for k in by_gc if k[0] == short]
            members = set().union(*(by_gc[p] for p in parts if p in by_gc))
        gencats[long_name] = members
    assert gc_names[normalize("Lu")] == "Uppercase_Letter"

    scripts = {value_aliases["Script"][normalize(k)]: v
               for k, v in read_by_value(ucd / "Scripts.txt").items()}
    extensions = {name: set(points) for name, points in scripts.items()}
    for fields in data_lines(ucd / "ScriptExtensions.txt"):
        points = set(code_points(fields[0]))
        for script in scripts:
            extensions[script] -= points
        for short in fields[1].split():
            name = value_aliases["Script"][normalize(short)]
            extensions.setdefault(name, set()).update(points)

    binary = {}
    for source in BINARY_SOURCES:
        for name, points in read_by_value(ucd / source).items():
            binary.setdefault(name, set()).update(points)
    ages = {value_aliases["Age"][normalize(k)]: v
            for k, v in read_by_value(ucd / "DerivedAge.txt").items()}
    breaks = {}
    for prop, file in [("Grapheme_Cluster_Break", "GraphemeBreakProperty.txt"),
                       ("Word_Break", "WordBreakProperty.txt"),
                       ("Sentence_Break", "SentenceBreakProperty.txt")]:
        breaks[prop] = {value_aliases[prop][normalize(k)]: v
                        for k, v in read_by_value(ucd / "auxiliary" / file).items()}
    word = (binary["Alphabetic"] | gencats["Mark"] | gencats["Decimal_Number"]
            | gencats["Connector_Punctuation"] | binary["Join_Control"])
    return {"General_Category": gencats, "Script": scripts, "Script_Extensions": extensions,
            "Binary": binary, "Age": ages, **breaks,
            "Perl": {"word": word, "space": binary["White_Space"]}}


def fold_cycles(ucd):
    """Each code point -> the next one in its simple case-folding orbit (statuses C and S)."""
    orbits = {}
    for fields in data_lines(ucd / "CaseFolding.txt"):
        if fields[1] in ("C", "S"):
            source, target = int(fields[0], 16), int(fields[2], 16)
            orbits.setdefault(target, {target}).add(source)
    pairs = []
    for members in orbits.values():
        ordered = sorted(members)
        pairs += [(c, ordered[(i + 1) % len(ordered)]) for i, c in enumerate(ordered)]
    return sorted(pairs)


def emit_rows(items, per_line, indent="    "):
    for i in range(0, len(items), per_line):
        print(indent + " ".join(items[i:i + per_line]))


def main():
    ucd = Path(sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode")
    version = re.search(r"DerivedCoreProperties-([\d.]+)\.txt",
                        (ucd / "DerivedCoreProperties.txt").read_text()).group(1)
    names, values = read_aliases(ucd)
    values["Script_Extensions"] = values["Script"]
    sets = build_sets(ucd, values)

    flat, tables = [], {}
    for family, by_name in sets.items():
        rows = []
        for name in sorted(by_name):
            table = ranges(by_name[name])
            if not table:  # the surrogates: no scalar value has them, so the name is unknown
                continue
            rows.append((name, len(flat), len(table)))
            flat += table
        tables[family] = rows

    print(f"// Generated by core/tools/gen_regex_unicode.py from the Unicode {version} data files.")
    print("// Do not edit by hand.")
    print('#include "algorithms/regex/unicode_tables.hpp"')
    print()
    print("namespace torvex::algorithms::regex {")
    print()
    print(f'const std::string_view kUnicodeVersion = "{version}";')
    print()
    print("namespace {")
    print()
    print("constexpr CodeRange kRanges[] = {")
    emit_rows([f"{{0x{lo:X}, 0x{hi:X}}}," for lo, hi in flat], 6)
    print("};")
    for family, rows in tables.items():
        print()
        print(f"constexpr NamedRanges k{family.replace('_', '')}[] = {{")
        for name, offset, count in rows:
            print(f'    {{"{name}", {offset}, {count}}},')
        print("};")
    print()
    print("constexpr Alias kPropertyNameAliases[] = {")
    emit_rows([f'{{"{a}", "{c}"}},' for a, c in sorted(names.items())], 3)
    print("};")
    for prop in sorted(values):
        print()
        print(f"constexpr Alias k{prop.replace('_', '')}Values[] = {{")
        emit_rows([f'{{"{a}", "{c}"}},' for a, c in sorted(values[prop].items())], 3)
        print("};")
    print()
    print("constexpr FoldPair kFolds[] = {")
    emit_rows([f"{{0x{a:X}, 0x{b:X}}}," for a, b in fold_cycles(ucd)], 6)
    print("};")
    print()
    print("}  // namespace")
    print()
    print("const std::span<const CodeRange> kClassRanges(kRanges);")
    for family in tables:
        name = family.replace("_", "")
        print(f"const std::span<const NamedRanges> k{name}Classes(k{name});")
    print("const std::span<const Alias> kPropertyNames(kPropertyNameAliases);")
    for prop in sorted(values):
        name = prop.replace("_", "")
        print(f"const std::span<const Alias> k{name}ValueNames(k{name}Values);")
    print("const std::span<const FoldPair> kFoldCycles(kFolds);")
    print()
    print("}  // namespace torvex::algorithms::regex")


if __name__ == "__main__":
    main()
