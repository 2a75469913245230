#!/usr/bin/env bash
# Checks that docs/architecture.md names every mutex, condition variable and
# thread object declared in src/, and every name a thread gives itself, and
# names none that no longer exists. Exits 1 with the differences, 0 when the
# page and the code agree.
#
#   scripts/check-architecture.sh [ROOT]
set -euo pipefail
root="$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}" && pwd)"
exec python3 - "$root" <<'PY'
import pathlib, re, sys

root = pathlib.Path(sys.argv[1])
page_path = root / "docs" / "architecture.md"
page = page_path.read_text(encoding="utf-8")

# Declarations in the code: (path below src/, name) of each synchronisation
# object or thread object, and the names threads give themselves.
kinds = (r"std::(?:recursive_|timed_|shared_)?mutex|QMutex|QRecursiveMutex|QReadWriteLock|"
         r"std::condition_variable(?:_any)?|QWaitCondition|std::j?thread|QThread\s*\*?")
decl = re.compile(r"^\s*(?:mutable\s+|static\s+|inline\s+)*(?:" + kinds + r")\s+(\w+)\s*[;{=]")
thread_name = re.compile(r'(?:KrNameThisThread\(\s*"([^"]+)"|[Tt]hread\w*(?:\.|->)setObjectName\('
                         r'\s*QStringLiteral\(\s*"([^"]+)")')
code_objects, code_threads = set(), set()
for f in sorted((root / "src").rglob("*")):
    if f.suffix not in (".h", ".cpp"):
        continue
    rel = f.relative_to(root / "src").as_posix()
    for line in f.read_text(encoding="utf-8", errors="replace").splitlines():
        if line.lstrip().startswith("//"):
            continue
        m = decl.match(line)
        if m:
            code_objects.add((rel, m.group(1)))
        for m in thread_name.finditer(line):
            code_threads.add(m.group(1) or m.group(2))

# The page: rows of the table under "## Locks, conditions and thread objects"
# (`path` | `name` | ...), and the names in the first column of the table
# under "## Threads" (`name`).
def section(title):
    m = re.search(r"^## " + re.escape(title) + r"\s*$(.*?)(?=^## |\Z)", page, re.S | re.M)
    if not m:
        sys.exit(f"check-architecture: {page_path}: no section '## {title}'")
    return [l for l in m.group(1).splitlines() if l.startswith("|") and not l.startswith("|--")
            and not l.startswith("|---")]

page_objects = set()
for row in section("Locks, conditions and thread objects")[1:]:
    cells = [c.strip() for c in row.strip("|").split("|")]
    path, name = (re.sub(r"`", "", c) for c in cells[:2])
    page_objects.add((path, name))
page_threads = set()
for row in section("Threads")[1:]:
    first = row.strip("|").split("|")[0]
    page_threads.update(re.findall(r"`([^`]+)`", first))
page_threads.discard("vornterm")  # the main thread: the program's own name

problems = []
for path, name in sorted(code_objects - page_objects):
    problems.append(f"src/{path} declares {name}, which the page does not name")
for path, name in sorted(page_objects - code_objects):
    problems.append(f"the page names {name} in src/{path}, which the code no longer declares")
for name in sorted(code_threads - page_threads):
    problems.append(f"a thread names itself '{name}', which the page's threads do not list")
for name in sorted(page_threads - code_threads):
    problems.append(f"the page lists a thread '{name}' that no code names")
if problems:
    print(f"check-architecture: {page_path} and src/ disagree:", file=sys.stderr)
    for p in problems:
        print("  - " + p, file=sys.stderr)
    sys.exit(1)
print(f"check-architecture: {len(code_objects)} locks, conditions and thread objects and "
      f"{len(code_threads)} thread names agree with docs/architecture.md")
PY
