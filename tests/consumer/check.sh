#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and uses it as another project would:
#   - the installed programs answer --version with the project version;
#   - this folder's project is configured with find_package(zq CONFIG) against the prefix, built
#     (including a file of every installed header) and run; its output must match *.expected;
#   - the example is built once more with nothing but pkg-config's flags, and run;
#   - the README shows the example program exactly as it is in example.cpp.
# The programs run in the scratch folder, so their output names files relatively.
# Usage: check.sh BUILD_DIR SOURCE_DIR VERSION CXX_COMPILER [EXTRA_FLAGS]
# EXTRA_FLAGS go to the compiler and linker (the sanitizer flags of a sanitizer build).
set -euo pipefail
build=$1 source=$2 version=$3 cxx=$4 flags=${5:-}
here=$source/tests/consumer

work=$(mktemp -d "$build/consumer-check-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "consumer check: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for program in zqdb zqpkg zqinst; do
  [ -x "$prefix/bin/$program" ] || { [ $program = zqinst ] && continue; fail "bin/$program not installed"; }
  got=$("$prefix/bin/$program" --version)
  [ "$got" = "$program $version" ] || fail "$program --version printed '$got', expected '$program $version'"
  [ -f "$prefix/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done

# The README's example is example.cpp, character for character.
readme_example=$work/readme_example.cpp
awk '/<!-- example: tests\/consumer\/example.cpp -->/ {found = 1; next}
     found == 1 && /^```cpp$/ {found = 2; next}
     found == 2 && /^```$/ {exit}
     found == 2 {print}' "$source/README.md" > "$readme_example"
diff -u "$here/example.cpp" "$readme_example" >&2 || fail "README.md's example differs from tests/consumer/example.cpp"

compare_output() {  # NAME EXPECTED-FILE COMMAND...
  local name=$1 expected=$2
  shift 2
  local status=0
  (cd "$work" && "$@") > "$work/$name.out" 2>&1 || status=$?
  echo "exit $status" >> "$work/$name.out"
  diff -u "$expected" "$work/$name.out" >&2 || fail "$name: output differs from $(basename "$expected")"
}

# find_package(zq CONFIG)
cmake -S "$here" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
compare_output example "$here/example.expected" "$work/cmake-build/example" clients.zqc
compare_output list_archive "$here/list_archive.expected" "$work/cmake-build/list_archive" pkg.zip

# pkg-config
pc_dir=$(dirname "$(find "$prefix" -name zq-dbengine.pc)")
read -r -a pc_flags <<< "$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs zq-dbengine)"
read -r -a extra <<< "$flags"
"$cxx" -std=c++20 "${extra[@]}" "$here/example.cpp" -o "$work/example-pc" "${pc_flags[@]}"
rm -f "$work/clients.zqc"
LD_LIBRARY_PATH=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir zq-dbengine) \
  compare_output example-pkg-config "$here/example.expected" "$work/example-pc" clients.zqc
echo "consumer check passed: CMake package, pkg-config, installed programs, README example"
