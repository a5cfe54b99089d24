#!/usr/bin/env bash
# Usage: package_test.sh BUILD_DIR PLANTED_LIBRARY
# Packs BUILD_DIR with CPack, unpacks the .deb into a scratch root (no root rights needed) and
# checks that the installed station works for a user: Yemario writes "huella.bmp" into the
# caller's folder, TrazelIB captures into the per-user data folder, and nothing is written into
# the program folder. Every program and library searches only its own folder for libraries:
# copies of PLANTED_LIBRARY in the caller's folder, named like the libraries the programs
# load, are never loaded.
set -euo pipefail
build=$(cd "$1" && pwd)
planted=$2
scratch=$(mktemp -d)
trap 'kill "${station_pid:-}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" ||
    { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/pkg/*.deb)
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libqt6printsupport6 fonts-liberation2 qt6-translations-l10n; do
    [[ $depends == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
touch "$scratch/unpacked"
prog=$root/usr/lib/trazel
for f in TrazelIB Yemario BMP2WSQ tenprint-an2k matchtool scannersim libGBNFIQ.so libWSQPACK.so \
    libIBScanUltimate.so libScanMan.so Amputado.BMP fmodelo.bemepe per-user-data; do
    [[ -e $prog/$f ]] || fail "missing in the program folder: $f"
done
for f in TrazelIB Yemario BMP2WSQ tenprint-an2k scannersim; do
    [[ $(readlink -f "$root/usr/bin/$f") == "$prog/$f" ]] || fail "usr/bin/$f does not lead to $prog/$f"
done
[[ -f $root/usr/share/icons/hicolor/scalable/apps/trazelib.svg ]] || fail "no icon"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root"/usr/share/applications/*.desktop
else
    echo "desktop-file-validate absent: desktop entries not validated"
fi

# Every program and library, installed or in the build tree, searches exactly its own folder:
# no build folder, and no empty entry, which the loader would take for the working folder.
for f in "$prog"/* "$build"/bin/*; do
    [[ -f $f && $(head -c 4 "$f") == $'\x7fELF' ]] || continue
    path=$(readelf -d "$f" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')
    [[ -z $path || $path == '$ORIGIN' ]] || fail "$f searches [$path] for libraries"
done
echo "library search: \$ORIGIN only"

# The command of a desktop entry (its Exec line without field codes).
exec_of() { sed -n 's/^Exec=//p' "$root/usr/share/applications/$1" | sed 's/ %[a-zA-Z]//g'; }

# An ordinary user's session: a home of its own, the package's bin first on PATH.
home=$scratch/home
mkdir -p "$home" "$scratch/run" "$scratch/caller"
chmod 700 "$scratch/run"
run_env=(env -i HOME="$home" PATH="$root/usr/bin:/usr/bin:/bin" QT_QPA_PLATFORM=offscreen
    XDG_RUNTIME_DIR="$scratch/run")
for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS; do
    [[ -n ${!v:-} ]] && run_env+=("$v=${!v}")
done
data=$home/.local/share/TrazelIB

# The planted copies: the libraries loaded by name and every library the programs need.
plants=(libGBNFIQ.so libWSQPACK.so)
plants+=($(readelf -d "$prog/TrazelIB" "$prog/Yemario" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | sort -u))
for p in "${plants[@]}"; do cp "$planted" "$scratch/caller/$p"; done

# Yemario with the simulated scanner captures one finger and ends with code 0.
(cd "$scratch/caller" && "${run_env[@]}" timeout 300 $(exec_of yemario.desktop)) ||
    fail "Yemario ended with code $?"
[[ $(head -c 2 "$scratch/caller/huella.bmp") == BM ]] || fail "no huella.bmp in the caller's folder"
[[ $(od -An -tu2 -j28 -N2 "$scratch/caller/huella.bmp" | tr -d ' ') == 8 ]] || fail "huella.bmp is not 8-bit"
[[ -L $data/Amputado.BMP && -e $data/Amputado.BMP ]] || fail "data folder lacks the amputation picture"
"${run_env[@]}" tenprint-an2k --help | grep -q '^usage: tenprint-an2k write' ||
    fail "tenprint-an2k on PATH does not run"
echo "Yemario: huella.bmp written, data folder $data prepared"

# TrazelIB starts, fills its first slot in the data folder, and runs until stopped.
(cd "$scratch/caller" && exec "${run_env[@]}" $(exec_of trazelib.desktop)) &
station_pid=$!
for _ in $(seq 1 600); do
    [[ -f $data/dedo1.bmp ]] && break
    kill -0 "$station_pid" 2>/dev/null || fail "TrazelIB ended before its first capture"
    sleep 0.2
done
[[ -f $data/dedo1.bmp ]] || fail "TrazelIB wrote no dedo1.bmp into $data"
kill -0 "$station_pid" 2>/dev/null || fail "TrazelIB ended after its first capture"
kill "$station_pid"
wait "$station_pid" 2>/dev/null || true
station_pid=
echo "TrazelIB: dedo1.bmp captured into the data folder"

written=$(find "$prog" -newer "$scratch/unpacked")
[[ -z $written ]] || fail "files written into the program folder: $written"
[[ -e $scratch/caller/planted-loaded ]] && fail "a library planted in the caller's folder was loaded"
for p in "${plants[@]}"; do rm "$scratch/caller/$p"; done
ls "$scratch/caller" | grep -qv '^huella.bmp$' && fail "TrazelIB wrote into the caller's folder"
echo "PASS"
