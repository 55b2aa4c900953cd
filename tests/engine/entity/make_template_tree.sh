#!/bin/sh
# Builds a ".template" tree under $1 (the folder mounted as "templates") and checks every
# header line that must parse with xmllint. Exits non-zero when a tool is missing or a
# header that should be valid XML is not.
set -eu
root=$1
command -v xmllint >/dev/null || { echo "xmllint missing (libxml2-utils)" >&2; exit 3; }
G1=00000000-0000-0000-0000-000000000001
G2=00000000-0000-0000-0000-000000000002
G3=00000000-0000-0000-0000-000000000003
G4=00000000-0000-0000-0000-000000000004
G5=00000000-0000-0000-0000-000000000005
mkdir -p "$root/a" "$root/b" "$root/c" "$root/.svn" "$root/a/Deep/Deeper"
header() { printf '<TemplateStub GUID="%s" Type="%s"/>\n<Body>not read</Body>\n' "$1" "$2"; }
header $G1 0 > "$root/a/First.template"
header $G1 0 > "$root/b/Second.template"        # the same GUID: refused
header $G2 0 > "$root/b/Third.TEMPLATE"         # extension in upper case
header $G3 0 > "$root/.svn/Hidden.template"     # never scanned
header $G4 0 > "$root/a/Deep/Deeper/Leaf.template"
printf '<TemplateStub GUID="%s"/>\n' $G5 > "$root/c/NoType.template"
# The first line runs past 128 bytes: only its complete element inside them counts.
pad=$(printf '%0100d' 0 | tr 0 ' ')
printf '<TemplateStub GUID="%s" Type="7"/>%s<!-- %s -->\n' $G5 "$pad" "$pad" > "$root/c/Long.template"
printf '<TemplateStub GUID="%s" %s Type="8"/>\n' 00000000-0000-0000-0000-000000000006 "$pad" > "$root/c/LateType.template"
printf 'not xml at all\n' > "$root/c/Garbage.template"
: > "$root/c/Empty.template"
ln -sf Missing.template "$root/c/Dangling.template"   # cannot be opened
printf 'x' > "$root/c/readme.txt"
for f in "$root/a/First.template" "$root/b/Third.TEMPLATE" "$root/a/Deep/Deeper/Leaf.template" \
         "$root/c/NoType.template" "$root/c/LateType.template"; do
  head -n 1 "$f" | xmllint --noout - || exit 4
done
