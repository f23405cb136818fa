#!/usr/bin/env bash
# Regenerates the sample firmware under samples/: small made-up images (their
# bytes only say what they are), packages and bundles for the demo and the
# tests. Every file is reproducible byte for byte.
#   samples/make_samples.sh [PATH/TO/fwload]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
fwload=${1:-${FWLOAD:-}}
if [ -z "$fwload" ]; then
  for candidate in "$root"/build/*/fwload; do
    [ -x "$candidate" ] && fwload=$candidate && break
  done
fi
[ -x "${fwload:-}" ] || { echo "make_samples.sh: build fwload first or name it" >&2; exit 2; }

fw="$here/firmware"
bad="$here/malformed"
rm -rf "$fw" "$bad"
mkdir -p "$fw" "$bad"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# image NAME SIZE: a made-up image whose text repeats its own name.
image() { (yes "$1 sample image, not real firmware" || true) | head -c "$2" > "$3/$1"; }

# Managed switch: images for processors A (PPC) and the "a" board, a bundle.
image kvimage_mums3_2_7 12288 "$fw"
image kvimageb_mums3_2_7 4096 "$fw"
image kvimagea_mums3_2_7 12288 "$fw"
image kvimageba_mums3_2_7 4096 "$fw"
echo "switch information package (sample)" > "$work/switchinfo.tgz"
"$fwload" bundle create "$fw/mums_3_3_1.fwb" --product 2000 --version 3_3_1 \
  --file "0:99:$work/switchinfo.tgz" --label switchinfo.tgz \
  --file "A:1:$fw/kvimageb_mums3_2_7" --name imageb \
  --file "A:2:$fw/kvimage_mums3_2_7" --name image \
  --file "B:1:$fw/kvimageba_mums3_2_7" --name imageb \
  --file "B:2:$fw/kvimagea_mums3_2_7" --name image >/dev/null

# Controllers: plain images, a package archive and a bundle.
image kvimage_razeb3_1_999 16384 "$fw"
image kvimage6_razeb3_2_0 16384 "$fw"
image kvimageb_razeb3_2_0 4096 "$fw"
image kvimage_lozeb3_1_2 16384 "$work"
image kvimageb_lozeb3_1_2 4096 "$work"
tar -C "$work" --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf - \
  kvimage_lozeb3_1_2 kvimageb_lozeb3_1_2 | gzip -n -9 > "$fw/kvfirm_lozeb3_1_2.tgz"
"$fwload" bundle create "$fw/lozeb_3_2_5.fwb" --product 1001 --version 3_2_5 \
  --file "A:1:$work/kvimageb_lozeb3_1_2" --name imageb \
  --file "A:2:$work/kvimage_lozeb3_1_2" --name image \
  --file "C:2:$work/kvimage_lozeb3_1_2" --name image --link C:1:A:1 >/dev/null

# A rebranded bundle: only a build with the OEM string ACME accepts it.
"$fwload" bundle create "$fw/acme_mums_3_3_1.fwb" --product 2000 --version 3_3_1 --oem ACME \
  --file "A:2:$fw/kvimage_mums3_2_7" --name image >/dev/null

# Malformed bundles: each must be refused with a clear message.
good="$fw/mums_3_3_1.fwb"
head -c 1000 "$good" > "$bad/truncated.fwb"
{ printf '\0\0\0\2'; tail -c +5 "$good"; } > "$bad/version2.fwb"
# Root folder declares 0xFFFFFFFF children.
{ head -c 33 "$good"; printf "\377\377\377\377"; tail -c +38 "$good"; } > "$bad/huge_count.fwb"
: > "$bad/empty.fwb"
printf 'not a bundle at all\n' > "$bad/text.fwb"

# The bundle reader's fuzzer starts from these.
seeds="$root/bench/fuzz/seeds/fuzz_bundle_reader"
mkdir -p "$seeds"
cp "$fw/mums_3_3_1.fwb" "$fw/lozeb_3_2_5.fwb" "$fw/acme_mums_3_3_1.fwb" "$seeds/"
ls -l "$fw" "$bad"
