#!/usr/bin/env bash
# Builds the Debian package as Debian builds packages: dpkg-buildpackage from
# debian/, in a copy of this source tree (without its build folders), so that
# nothing lands beside the tree. The packages (the program's and its -dbgsym)
# with their .buildinfo and .changes land in OUT_DIR, the build's log in
# OUT_DIR/build.log. What debian/control's Build-Depends lists must be
# installed (`./dev package` installs it).
# usage: build_package.sh OUT_DIR
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
work=$out/source
copy=$work/velt-mouse-assistant-${version%-*}
rm -rf "$work"
mkdir -p "$copy"
# Not the build folders, nor OUT_DIR should it lie in the tree.
tar -C "$source_dir" --exclude-vcs --exclude='./build*' --exclude=./.cache \
  --exclude="./${out#"$source_dir"/}" -cf - . | tar -C "$copy" -xf -
if ! (cd "$copy" && dpkg-buildpackage -b -us -uc) >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  echo "build_package.sh: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
fi
rm -f "$out"/*.deb "$out"/*.buildinfo "$out"/*.changes
mv "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out/"
rm -rf "$work"
