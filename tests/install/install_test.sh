#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, then builds examples/encode_wav.c against the
# installed package with find_package (shared and static targets) and with pkg-config, and runs
# the programs and the installed aacstream tool.
#
# usage: install_test.sh BUILD_DIR SOURCE_DIR C_COMPILER LIBDIR SANITIZE(0|1)
set -euo pipefail
build=$1 source=$2 cc=$3 libdir=$4 sanitize=$5

work=$(mktemp -d "${TMPDIR:-/tmp}/aacs_install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
flags=""
# A sanitized library needs sanitized hosts (the runtime must come first).
[ "$sanitize" = 1 ] && flags="-fsanitize=address,undefined"

fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/aacstream/aacstream.h "$libdir/libaacstream.a" "$libdir/libaacstream.so" \
         "$libdir/cmake/aacstream/aacstreamConfig.cmake" "$libdir/pkgconfig/aacstream.pc" bin/aacstream \
         share/aacstream/samples/orchestral_desert.wav; do
  [ -e "$prefix/$f" ] || fail "missing $f in the installed tree"
done

cmake -S "$source/tests/install/consumer" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="$flags" -DAACS_EXAMPLE="$source/examples/encode_wav.c" >"$work/log" 2>&1 \
  || { cat "$work/log"; fail "find_package(aacstream) project did not configure"; }
cmake --build "$work/consumer" >"$work/log" 2>&1 || { cat "$work/log"; fail "find_package(aacstream) build failed"; }

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --modversion aacstream)" = "$(sed -n 's/^Version: //p' "$prefix/$libdir/pkgconfig/aacstream.pc")" ] \
  || fail "pkg-config does not find aacstream"
# shellcheck disable=SC2046
"$cc" $flags -Wall -Wextra -Werror "$source/examples/encode_wav.c" $(pkg-config --cflags --libs aacstream) \
      -o "$work/encode_wav_pkgconfig" || fail "pkg-config build failed"

# ldd's output is taken whole first: grep -q stops reading at its match, and under pipefail the
# writer's broken pipe would read as a failure.
shared_deps=$(ldd "$work/consumer/encode_wav_shared")
static_deps=$(ldd "$work/consumer/encode_wav_static")
grep -q 'libaacstream\.so' <<<"$shared_deps" || fail "the shared target did not link the shared library"
if grep -q 'libaacstream\.so' <<<"$static_deps"; then fail "the static target linked the shared library"; fi

input=$source/tests/data/speech_16k_mono_3s.wav
for exe in encode_wav_shared encode_wav_static encode_wav_pkgconfig; do
  path=$work/consumer/$exe
  [ -x "$path" ] || path=$work/$exe
  out=$work/$exe.aac
  LD_LIBRARY_PATH="$prefix/$libdir" "$path" "$input" "$out" 32 --trailer >"$work/log" 2>&1 \
    || { cat "$work/log"; fail "$exe failed"; }
  [ "$(head -c 2 "$out" | od -An -tx1 | tr -d ' \n')" = "fff1" ] || fail "$exe did not write an ADTS stream"
  [ "$(tail -c 4 "$out" | od -An -tx1 | tr -d ' \n')" = "ccabccab" ] || fail "$exe did not append the trailer"
done

# A full disk (an 8 KiB file-size limit, SIGXFSZ ignored so that the write fails instead) must make
# the example fail with the library's one-line reason, not report success.
if (trap '' XFSZ; ulimit -f 8; LD_LIBRARY_PATH="$prefix/$libdir" "$work/encode_wav_pkgconfig" "$input" \
    "$work/full.aac" 32) >"$work/log" 2>&1; then
  fail "encode_wav reported success although its output could not be written"
fi
grep -q "^aacstream: cannot write '$work/full.aac': File too large$" "$work/log" \
  || { cat "$work/log"; fail "encode_wav's failed write was not reported"; }

version=$("$prefix/bin/aacstream" --version) && grep -q "^aacstream " <<<"$version" || fail "the installed tool does not run"
"$prefix/bin/aacstream" --quiet --demo -o "$work/demo.m4a" || fail "the installed tool cannot encode its demo sample"
[ -s "$work/demo.m4a" ] || fail "no demo output"
echo "install test: 1 passed, 0 failed"
