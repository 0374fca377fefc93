#!/usr/bin/env bash
# The public surface as a host meets it: installs the build into a fresh
# prefix with cmake --install, builds examples/list_plugins against that
# prefix with find_package(Orvanta), and runs it on copies of four samples (one per format, and a shell)
# (the expected lines are the example's whole output). Then builds the
# example once more with this source tree as a subdirectory of its build.
#   bash tests/example_build.sh BUILD_FOLDER
# Run through CTest by ./run test (the Wine prefix comes from there).
set -eu
BUILD=$(cd "${1:?usage: example_build.sh BUILD_FOLDER}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WINE64=/usr/lib/wine/wine64
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix} WINEARCH=win64 WINEDEBUG=-all LANG=C.UTF-8
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"winedbg.exe=d;winemenubuilder.exe=d"}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }

cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null
cmake -S "$ROOT/examples/list_plugins" -B "$WORK/example" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$WORK/prefix" >/dev/null
cmake --build "$WORK/example" >/dev/null

mkdir "$WORK/plugins"
cp -r "$BUILD/bin/samples/SampleEffect.dll" "$BUILD/bin/samples/SampleShell.dll" \
    "$BUILD/bin/samples/SampleSuite.vst3" "$BUILD/bin/samples/SampleInstrument.clap" "$WORK/plugins/"
cd "$WORK"
"$WINE64" "$WORK/example/list_plugins.exe" "$(winpath "$WORK/plugins.json")" \
    "$(winpath "$WORK/prefix/bin/scanserver.exe")" "$(winpath "$WORK/plugins")" \
    >"$WORK/out.txt" 2>"$WORK/err.txt" </dev/null || { cat "$WORK/err.txt"; exit 1; }

expected='ok       SampleEffect.dll 536D4566 Sample Effect (Zandrel Software)
ok       SampleInstrument.clap com.zandrel.orvanta-instrument Orvanta CLAP Instrument (Zandrel Software, 0 in, 2 out)
ok       SampleShell.dll 536D5368 Sample Shell (Zandrel Software)
ok       SampleShell.dll 53480001 Sample Shell Chorus (Zandrel Software)
ok       SampleShell.dll 53480002 Sample Shell Delay (Zandrel Software)
ok       SampleSuite.vst3 5355495445000001A0B0C0D000000001 Suite Chorus (Zandrel Software, Audio Module Class)
ok       SampleSuite.vst3 5355495445000001A0B0C0D000000002 Suite Delay (Zandrel Software, Audio Module Class)
ok       SampleSuite.vst3 5355495445000001A0B0C0D000000003 Suite Controller (Zandrel Software, Component Controller Class)'
actual=$(tr -d '\r' <"$WORK/out.txt")
if [ "$actual" != "$expected" ]; then
    printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"
    exit 1
fi
# The database it wrote is read by a standard JSON parser: four modules.
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert d["format"]==5, d; assert len(d["modules"])==4, d' \
    "$WORK/plugins.json"
cmake -S "$ROOT/examples/list_plugins" -B "$WORK/subdirectory" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DORVANTA_SOURCE_DIR="$ROOT" >/dev/null
cmake --build "$WORK/subdirectory" --target list_plugins >/dev/null
[ -f "$WORK/subdirectory/list_plugins.exe" ] || { echo "no list_plugins.exe from the subdirectory build"; exit 1; }
echo "example built against the installed package (listed 8 plugins) and with the tree as a subdirectory"
