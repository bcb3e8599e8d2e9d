#!/usr/bin/env bash
# Makes the release zip from a build's CPack configuration in a scratch folder
# and checks what a school would unpack: exactly the exe, the three guides, the
# pictures they show, the browser and Windows policy files and a SHA256SUMS that verifies
# them all.
#
#   tools/check_package.sh [--strict] BUILD_DIR
#
# A picture a guide shows but the source tree lacks is only a warning, as at
# configure time (the guides and their pictures are made separately); with
# --strict, for a release, it is an error.
set -euo pipefail

strict=0
if [ "${1:-}" = --strict ]; then strict=1; shift; fi
[ $# -eq 1 ] || { echo "usage: $0 [--strict] BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
cache=$build/CMakeCache.txt
[ -f "$cache" ] || { echo "no CMakeCache.txt in $build" >&2; exit 2; }
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$cache" | head -n 1; }

version=$(cache_value CMAKE_PROJECT_VERSION)
source_dir=$(cache_value CMAKE_HOME_DIRECTORY)
[ -n "$version" ] || { echo "FAIL: the build has no project version (CMAKE_PROJECT_VERSION)"; exit 1; }
# The cpack of the cmake that configured the build reads its CPackConfig.cmake.
cpack=$(dirname "$(cache_value CMAKE_COMMAND)")/cpack
[ -x "$cpack" ] || cpack=cpack

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvel-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack failed"
  exit 1
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

shopt -s nullglob
zips=("$scratch/out"/*.zip)
shopt -u nullglob
[ ${#zips[@]} -eq 1 ] || { echo "FAIL: cpack made ${#zips[@]} zip files, not one"; exit 1; }
zip=${zips[0]}
name=orvel-cbt-$version-win64
echo "package: $(basename "$zip") (project version $version)"
[ "$(basename "$zip")" = "$name.zip" ] || fail "the zip is $(basename "$zip"), not $name.zip"

# The listing against the guides' own image links, then the unpacked files.
python3 - "$zip" "$name" "$source_dir" "$scratch/unpacked" "$strict" <<'EOF' || failures=$((failures + 1))
import os, posixpath, re, sys, zipfile

zip_path, top, source, dest, strict = sys.argv[1:]
docs = ["panduan-pengawas.md", "it-guide.md", "exam-server.md"]
policies = ["docs/policies/edge-exam.reg", "docs/policies/chrome-exam.reg", "docs/policies/windows-exam.reg"]
problems = []

pictures, missing = set(), set()
image = re.compile(r"!\[[^\]]*\]\(\s*<?([^\s>)]*)>?[^)]*\)")
for doc in docs:
    with open(os.path.join(source, "docs", doc), encoding="utf-8") as f:
        text = f.read()
    for target in image.findall(text):
        if not target or re.match(r"[A-Za-z][A-Za-z0-9+.-]*:", target):
            continue  # a web address is not a file of the package
        path = posixpath.normpath("docs/" + target)
        if not path.startswith("docs/"):
            print(f"note: docs/{doc} shows {target}, outside docs/: not expected in the package")
            continue
        if os.path.isfile(os.path.join(source, path)):
            pictures.add(path)
        else:
            missing.add(path)
for path in sorted(missing):
    message = f"a guide shows {path}, which the source tree lacks"
    if strict == "1":
        problems.append(message)
    else:
        print("WARNING: " + message)

expected = {"orvel-cbt.exe", "SHA256SUMS"} | {"docs/" + d for d in docs} | set(policies) | pictures

with zipfile.ZipFile(zip_path) as z:
    names = z.namelist()
    print("listing:")
    for n in names:
        print("  " + n)
    if len(names) != len(set(names)):
        problems.append("the zip holds the same name twice")
    files, folders = set(), set()
    outside = [n for n in names if not n.startswith(top + "/")]
    if outside:
        problems.append(f"{len(outside)} entries are outside the {top}/ folder, the first {outside[0]}")
    for n in names:
        if n in outside:
            continue
        inner = n[len(top) + 1:]
        if n.endswith("/"):
            folders.add(inner.rstrip("/"))
        else:
            files.add(inner)
    for n in sorted(files - expected):
        problems.append(f"unexpected file in the zip: {n}")
    for n in sorted(expected - files):
        problems.append(f"missing from the zip: {n}")
    parents = {posixpath.dirname(p) for p in expected} - {""}
    for n in sorted(folders - parents - {""}):
        problems.append(f"unexpected folder in the zip: {n}/")
    unsafe = [n for n in names if n.startswith("/") or ".." in n.split("/")]
    if unsafe:
        problems.append(f"names that would unpack outside the folder: {unsafe}")
    else:
        z.extractall(dest)

for p in problems:
    print("FAIL: " + p)
sys.exit(1 if problems else 0)
EOF

root=$scratch/unpacked/$name
if [ ! -d "$root" ]; then
  fail "nothing unpacked"
else
  if cmp -s "$root/orvel-cbt.exe" "$build/orvel-cbt.exe"; then
    echo "orvel-cbt.exe is byte-identical to $build/orvel-cbt.exe"
  else
    fail "orvel-cbt.exe in the zip differs from $build/orvel-cbt.exe"
  fi
  # Regedit reads the policy files as they are: no line end may change.
  for policy in "$source_dir"/docs/policies/*.reg; do
    packaged=$root/docs/policies/$(basename "$policy")
    [ ! -f "$packaged" ] || cmp -s "$policy" "$packaged" || fail "docs/policies/$(basename "$policy") in the zip differs from the source"
  done
  if [ -f "$root/SHA256SUMS" ]; then
    # Every other file is listed, or a file left out of the sums would pass -c.
    listed=$(sed -n 's/^[0-9a-f]\{64\}  //p' "$root/SHA256SUMS" | sort)
    present=$(cd "$root" && find . -type f ! -path ./SHA256SUMS | sed 's|^\./||' | sort)
    for f in $(comm -13 <(echo "$listed") <(echo "$present")); do fail "SHA256SUMS leaves out $f"; done
    for f in $(comm -23 <(echo "$listed") <(echo "$present")); do fail "SHA256SUMS lists $f, which the package lacks"; done
    if (cd "$root" && sha256sum --strict -c SHA256SUMS); then
      echo "sha256sum -c SHA256SUMS: passed"
    else
      fail "sha256sum -c SHA256SUMS"
    fi
  else
    fail "no SHA256SUMS"
  fi
fi

if [ $failures -ne 0 ]; then
  echo "package check: $failures failure(s)"
  exit 1
fi
echo "package check: passed"
