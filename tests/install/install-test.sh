#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it from there as a host would:
# one C program built against it with find_package(korva) and once with
# pkg-config, the command-line tool and the Python tools run from its bin/.
#   install-test.sh CMAKE BUILD_DIR PROGRAM.c
set -euo pipefail
cmake=$1 build=$2 program=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "FAILED: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" --component korva >/dev/null
libdir=$(PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name korva.pc)") pkg-config --variable=libdir korva)
[ "$(readlink -f "$libdir")" = "$(readlink -f "$(dirname "$(find "$prefix" -name 'libkorva.so.*.*')")")" ] ||
  fail "korva.pc's libdir $libdir is not where the library is"

# (whole outputs to grep: with pipefail, grep -q's early exit would fail the pipe)
[[ $(objdump -p "$libdir/libkorva.so") =~ SONAME\ +libkorva\.so\.[0-9] ]] ||
  fail "libkorva.so has no versioned SONAME"
[[ $(LD_LIBRARY_PATH= ldd "$prefix/bin/korva") == *"$prefix/"*libkorva.so* ]] ||
  fail "bin/korva does not load the prefix's libkorva.so"
"$prefix/bin/korva" --version >/dev/null || fail "bin/korva --version"
# Without -m it takes the voice installed with it: a stand-in that fails to load
# shows which one it took (the real one is left out, being large).
voice=$prefix/share/korva/default-voice.pt
: >"$voice"
if "$prefix/bin/korva" speak -o "$work/out.wav" Hello 2>"$work/speak.err" ||
   ! grep -q "'$voice'" "$work/speak.err"; then
  cat "$work/speak.err" >&2
  fail "bin/korva speak without -m does not take $voice"
fi
for tool in korva-export korva-voice; do
  "$prefix/bin/$tool" --help >/dev/null || fail "bin/$tool --help from the prefix"
done

# find_package: the link interface is the library alone (no Torch config needed).
"$cmake" -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DPROGRAM="$program" -DCMAKE_BUILD_TYPE=Release >/dev/null
"$cmake" --build "$work/consumer" >/dev/null
"$work/consumer/consumer" || fail "the program built with find_package(korva)"

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -std=c99 -Wall -Wpedantic -o "$work/pc-consumer" "$program" $(pkg-config --cflags --libs korva)
LD_LIBRARY_PATH=$libdir "$work/pc-consumer" || fail "the program built with pkg-config"
# Python: the package finds the library installed beside it.
python=$(find "$prefix" -path '*/korva/__init__.py')
env -u KORVA_LIBRARY PYTHONPATH=$(dirname "$(dirname "$python")") PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 - "$libdir" <<'PY' || fail "the installed Python package"
import os, sys
import korva
assert os.path.realpath(korva.library_path()) == os.path.realpath(sys.argv[1] + "/libkorva.so"), korva.library_path()
try:
    korva.Voice("missing.pt")
    raise SystemExit("loaded a missing voice")
except korva.KorvaError as error:
    assert "missing.pt" in str(error), error
PY
echo "install: all checks passed"
