#!/usr/bin/env python3
"""The environment variables that the programs read, found in their sources, against the
README's environment table and the manual pages' ENVIRONMENT sections, both ways: a
variable read but not documented, documented but not read, or documented for the wrong
program fails. A read whose variable cannot be told (a name computed at run time) fails too,
so that it is looked at by a person.

    tests/docs/environment_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

# Where each program's own sources lie; the folders not named here are shared by several
# programs, and their variables need only stand in the README and in some manual page.
PROGRAMS = {
    "frontend": ["trelmerge"],
    "service": ["zorv_service"],
    "launcher": ["trelmergeutf8"],
    "tools/zorvexplorer": ["zorvexplorer"],
    "tools/trelprompt": ["trelprompt"],
    "tools/desktop": ["zorvexplorer", "trelprompt"],
}
SCANNED = ["frontend", "service", "launcher", "common", "runtime", "platform", "tools"]
MAN_PAGES = ["trelmerge", "trelmergeutf8", "zorv_service", "zorvexplorer", "trelmerge-svn-diff"]
# Calls that read variables without naming them.
IMPLICIT = {
    "setlocale": ["LANG", "LC_ALL"],
    "GetTempPathA": ["TMP", "TEMP"],
}
READERS = re.compile(r"\b(?:std::)?(?:secure_getenv|getenv|_wgetenv|GetEnvironmentVariable[AW]?)\s*\(")
NAME = r"[A-Z][A-Z0-9_]*[A-Z0-9]"


def argument(text, start):
    """The first argument of the call whose opening parenthesis ends at start."""
    depth, i = 1, start
    while i < len(text) and depth:
        depth += {"(": 1, ")": -1}.get(text[i], 0)
        if depth == 1 and text[i] == ",":
            break
        i += 1
    return text[start:i].strip().rstrip(")")


def enclosing_function(text, at, param):
    """The name of the function, defined before at, whose parameter list names param."""
    found = None
    for m in re.finditer(r"(\w+)\s*\(([^()]*)\)\s*(?:const\s*)?\{", text[:at]):
        if re.search(r"\b%s\s*$" % re.escape(param), m.group(2).split(",")[0]) or re.search(
                r"\b%s\b" % re.escape(param), m.group(2)):
            found = m.group(1)
    return found


def resolve(arg, text, sources, depth=0):
    """The variable names an argument stands for; None when they cannot be told."""
    literal = re.fullmatch(r'"(%s)"' % NAME, arg)
    if literal:
        return {literal.group(1)}
    if depth > 3:
        return None
    names = set()
    for ident in re.findall(r"\b[a-z_]\w*\b", arg):
        if ident in ("std", "string", "c_str", "data", "string_view"):
            continue
        defined = set()
        for other in sources.values():
            defined |= set(re.findall(r"\b%s\s*=\s*\"(%s)\"" % (ident, NAME), other))
        if defined:
            names |= defined
            continue
        return None
    return names or None


def variables_read(source_dir):
    """{variable: set of source files}, and the reads that could not be told."""
    sources = {}
    for folder in SCANNED:
        for path in sorted((source_dir / folder).rglob("*")):
            if path.suffix in (".cpp", ".h"):
                sources[path.relative_to(source_dir).as_posix()] = path.read_text(errors="replace")
    found, unknown = {}, []
    for name, text in sources.items():
        for m in READERS.finditer(text):
            arg = argument(text, m.end())
            names = resolve(arg, text, sources)
            if names is None:
                # A wrapper that passes its parameter on: the variables are those of its calls.
                function = enclosing_function(text, m.start(), arg)
                if function:
                    names = set()
                    for call in re.finditer(r"\b%s\s*\(" % function, text):
                        called = resolve(argument(text, call.end()), text, sources, 1)
                        if called:
                            names |= called
                names = names or None
            if names is None:
                line = text.count("\n", 0, m.start()) + 1
                unknown.append("%s:%d reads %s" % (name, line, arg))
                continue
            for variable in names:
                found.setdefault(variable, set()).add(name)
        for call, variables in IMPLICIT.items():
            if re.search(r"\b%s\s*\(" % call, text):
                for variable in variables:
                    found.setdefault(variable, set()).add(name)
    return found, unknown


def programs_of(source):
    for folder, programs in PROGRAMS.items():
        if source.startswith(folder + "/"):
            return programs
    return []


def readme_table(readme):
    """{variable: the 'read by' cell} of the README's environment table."""
    section = readme.split("\n## Environment\n", 1)[1].split("\n## ", 1)[0]
    rows = {}
    for line in section.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) < 3 or not cells[0].startswith("`"):
            continue
        for variable in re.findall(r"`(%s)`" % NAME, cells[0]):
            rows[variable] = cells[1]
    return rows


def man_environment(page):
    section = page.split("\n# ENVIRONMENT\n", 1)[1].split("\n# ", 1)[0]
    return set(re.findall(r"\*(%s)\*" % NAME, section))


def compare(found, unknown, readme, man):
    """The failures, one line each."""
    failures = ["cannot tell which variable %s" % u for u in unknown]
    documented_in_man = set().union(*man.values())
    for variable, sources in sorted(found.items()):
        where = ", ".join(sorted(sources))
        if variable not in readme:
            failures.append("%s (read in %s) is missing from the README's table" % (variable, where))
        if variable not in documented_in_man:
            failures.append("%s (read in %s) is in no manual page" % (variable, where))
        for source in sources:
            for program in programs_of(source):
                if variable in readme and program not in readme[variable]:
                    failures.append("the README does not say that %s reads %s" % (program, variable))
                if program in man and variable not in man[program]:
                    failures.append("%s(1) does not list %s" % (program, variable))
    for variable in sorted(set(readme) | documented_in_man):
        if variable not in found:
            failures.append("%s is documented but read nowhere" % variable)
    return sorted(set(failures))


def self_test():
    """The scanner on small sources: one row per way a variable is read."""
    rows = [
        ("a literal", 'void f() { std::getenv("ONE"); }', {"ONE"}),
        ("a constant", 'constexpr const char* v = "TWO";\nvoid f() { getenv(v); }', {"TWO"}),
        ("a string_view constant",
         'constexpr std::string_view v = "THREE";\nvoid f() { std::getenv(std::string(v).c_str()); }',
         {"THREE"}),
        ("a wrapper", 'bool set(const char* name) { return std::getenv(name); }\n'
                      'bool g() { return set("FOUR") || set("FIVE"); }', {"FOUR", "FIVE"}),
        ("Windows' call", 'void f() { GetEnvironmentVariableA("SIX", b, 4); }', {"SIX"}),
        ("a call that reads some", 'void f() { setlocale(LC_ALL, ""); }', {"LANG", "LC_ALL"}),
    ]
    failures = []
    for what, text, want in rows:
        found, unknown = scan_text(text)
        if set(found) != want or unknown:
            failures.append("self-test %s: found %s, unknown %s" % (what, sorted(found), unknown))
    found, unknown = scan_text('void f(const char* n) { std::getenv(pick(n)); }')
    if not unknown:
        failures.append("self-test: a name computed at run time was not reported")
    return failures


def scan_text(text):
    import tempfile
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        (root / "frontend").mkdir()
        (root / "frontend" / "x.cpp").write_text(text)
        return variables_read(root)


def main():
    source_dir = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    found, unknown = variables_read(source_dir)
    readme = readme_table((source_dir / "README.md").read_text())
    man = {p: man_environment((source_dir / ("docs/man/%s.1.scd" % p)).read_text()) for p in MAN_PAGES}
    checks = [("the scanner finds every kind of read", self_test())]
    checks.append(("every variable read is documented, and every one documented is read",
                   compare(found, unknown, readme, man)))
    failed = 0
    for name, failures in checks:
        print(("ok   " if not failures else "FAIL ") + name)
        for f in failures:
            print("     " + f)
        failed += bool(failures)
    print("variables read: " + ", ".join(sorted(found)))
    print("environment: %d passed, %d failed" % (len(checks) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
