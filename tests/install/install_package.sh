#!/usr/bin/env bash
# Installs the built library into a temporary prefix and uses it as a caller
# would: every public header compiles on its own, the reference page is there,
# and the README's consumer CMakeLists.txt and program (taken from the README
# itself) build against the installed package and against its pkg-config
# file, and print the expected row of examples/sample.dxl: as stored, after a
# UTF-8 text went in (converted both ways), and a failure in words; saved,
# an edited item keeps its stored name; and a write on a misspelt item fails.
#
# Usage: install_package.sh BUILD_DIR SOURCE_DIR CXX_COMPILER [EXTRA_FLAGS] [CORPUS_DIR]
set -euo pipefail
build=$1 source=$2 cxx=$3 extra=${4:-} corpus=${KV_CORPUS:-${5:-}}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
  { cat "$work/install.log"; fail "install failed"; }

# The library with its version and soname, kvedit, the package files.
libdir=$(dirname "$(find "$prefix" -name 'libnKestrelvaultEdit64.so.3.0' | head -1)")
[ -n "$libdir" ] && [ -f "$libdir/libnKestrelvaultEdit64.so.3.0" ] || fail "no versioned library"
[ -L "$libdir/libnKestrelvaultEdit64.so.3" ] || fail "no soname link"
[ -L "$libdir/libnKestrelvaultEdit64.so" ] || fail "no development link"
soname=$(objdump -p "$libdir/libnKestrelvaultEdit64.so.3.0" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "libnKestrelvaultEdit64.so.3" ] || fail "soname is '$soname'"
[ -f "$libdir/cmake/KestrelvaultEdit/KestrelvaultEditConfig.cmake" ] || fail "no CMake package"
[ -f "$libdir/pkgconfig/kestrelvault-edit.pc" ] || fail "no pkg-config file"
[ -x "$prefix/bin/kvedit" ] || fail "no kvedit"
"$prefix/bin/kvedit" info "$source/examples/sample.dxl" > "$work/info.txt" || fail "installed kvedit does not run"
grep -q '^  Body composite ' "$work/info.txt" || fail "installed kvedit: unexpected info output"

# The reference page, written from the library's tables.
reference=$prefix/share/doc/KestrelvaultEdit/reference.md
[ -f "$reference" ] || fail "no reference page"
for line in '| 1 | `Table` |' '| `SectionTitle` | text |' 'TableHTMLId' 'Alignment=Center' \
    'Starts With Table 1' '| `SectionIncludeTitle=` |'; do
  grep -qF -- "$line" "$reference" || fail "the reference page lacks '$line'"
done

# Only public headers, each compiling on its own.
inc=$prefix/include/kestrelvault
expected_headers="collection.h kestrelvault.h lsxsessi.h nn/nn.h rtchunk.h rtcomparison.h rtitem.h"
actual_headers=$(cd "$inc" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')
[ "$actual_headers" = "$expected_headers" ] || fail "installed headers: $actual_headers"
for h in $expected_headers; do
  echo "#include \"$h\"" > "$work/one.cpp"
  "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$inc" "$work/one.cpp" ||
    fail "$h does not compile on its own"
done

# The README's consumer project, taken from its code blocks.
consumer=$work/consumer
mkdir -p "$consumer"
awk '/^```cmake$/ {on=1; next} /^```$/ {on=0} on' "$source/README.md" > "$consumer/CMakeLists.txt"
awk '/^```cpp$/ {on=1; next} /^```$/ {on=0} on' "$source/README.md" > "$consumer/main.cpp"
grep -q 'find_package(KestrelvaultEdit' "$consumer/CMakeLists.txt" || fail "README has no consumer CMakeLists.txt"
grep -q 'int main' "$consumer/main.cpp" || fail "README has no minimal program"
generator=()
command -v ninja > /dev/null && generator=(-G Ninja)
cmake -S "$consumer" -B "$consumer/build" "${generator[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$extra -Wall -Wextra -Werror" \
  -DCMAKE_EXE_LINKER_FLAGS="$extra" \
  > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "consumer does not configure"; }
cmake --build "$consumer/build" > "$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "consumer does not build"; }

# The row as stored; after a UTF-8 text with a non-breaking space (stored as
# the platform's 0xFF) went into its second cell; and a file that is not there.
check_rowtext() {
  local program=$1 out
  out=$("$program" "$source/examples/sample.dxl") || fail "$program exited $?"
  [ "$out" = 'Colour | Red' ] || fail "$program printed '$out'"
  local text=$'Gr\xc3\xbc\xc3\x9fe\xc2\xa0caf\xc3\xa9'  # "Grüße café", UTF-8
  out=$("$program" "$source/examples/sample.dxl" "$text") || fail "$program exited $? on a UTF-8 text"
  [ "$out" = "Colour | $text" ] || fail "$program printed '$out' for a UTF-8 text"
  local status=0
  "$program" "$work/missing.dxl" > /dev/null 2> "$work/rowtext.err" || status=$?
  [ "$status" = 2 ] && grep -q 'File does not exist' "$work/rowtext.err" ||
    fail "$program on a missing file: exit $status, '$(cat "$work/rowtext.err")'"
  # A form whose "Body" is a field's entry: the row of its "$Body".
  local form=$corpus/dxl/ukl/Forms/Home.form
  if [ -f "$form" ]; then
    out=$("$program" "$form") || fail "$program exited $? on $form"
    [ "$out" = 'Title' ] || fail "$program printed '$out' for $form"
    # Stored as "$BODY" (as some forms store it) and bound as "$Body": edited
    # and saved, the item keeps its stored name.
    sed "s/<item name='\$Body'/<item name='\$BODY'/" "$form" > "$work/upper.form"
    out=$("$program" "$work/upper.form" 'Named' "$work/upper-out.dxl") ||
      fail "$program exited $? saving $form"
    [ "$out" = 'Title | Named' ] || fail "$program printed '$out' saving $form"
    grep -q "<item name='\$BODY'" "$work/upper-out.dxl" &&
      ! grep -q "<item name='\$Body'" "$work/upper-out.dxl" ||
      fail "$program saved the body of $form under another name"
  fi
}
check_rowtext "$consumer/build/rowtext"

# Two calls through the installed headers alone: "render", an XHTML page
# returned to the pool; "misspelt", a write on a misspelt item, which fails
# with 546 and leaves the note without such an item, even once stored.
cat > "$work/probe.cpp" <<'CPP'
#include <cstdio>
#include <cstring>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"

int main(int argc, char** argv) {
  NnHandle hDb = 0, hNote = 0;
  NOTEID id = 0;
  if (argc != 3 || NnDbOpen(argv[1], 0, &hDb) != NN_OK || NnDbNoteIdAt(hDb, 0, &id) != NN_OK ||
      NnNoteOpen(hDb, id, 0, &hNote) != NN_OK)
    return 2;
  const bool render = std::strcmp(argv[2], "render") == 0, misspelt = !std::strcmp(argv[2], "misspelt");
  int rc = render || misspelt ? 3 : 2;
  {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    const char* name = render ? "Body" : "Bodyy";
    TorvoRTChunk* all = item.ConnectBackend(hDb, hNote, name) == NN_OK ? item.DefineChunk("") : nullptr;
    char* page = nullptr;
    uint32_t length = 0;
    if (render && all && all->GenerateXML(nullptr, "", &page, &length) == NN_OK && page) {
      rc = std::strstr(page, "<td") && std::strncmp(page, "<?xml", 5) == 0 ? 0 : 4;
      PoolFree(&session, page);
    } else if (misspelt && all && all->AppendText("hello", 0, "") == NN_ERR_ITEM_NOT_FOUND &&
               all->lastStatus == NN_ERR_ITEM_NOT_FOUND && item.modified == 0 &&
               NnNoteUpdate(hNote, 0) == NN_OK &&
               NnItemInfo(hNote, name, 5, nullptr, nullptr, nullptr, nullptr) == NN_ERR_ITEM_NOT_FOUND) {
      char text[256];
      NnLoadStatusText(all->lastStatus, text, sizeof text);
      std::printf("%s\n", text);
      rc = 0;
    }
    delete all;
  }
  NnNoteClose(hNote);
  NnDbClose(hDb);
  return rc;
}
CPP
"$cxx" -std=c++20 $extra -I"$inc" "$work/probe.cpp" -o "$work/probe" -L"$libdir" -lnKestrelvaultEdit64 \
  -Wl,-rpath,"$libdir" || fail "the probe program does not build"
"$work/probe" "$source/examples/sample.dxl" render || fail "the render probe exited $?"
"$work/probe" "$source/examples/sample.dxl" misspelt > "$work/misspelt.out" ||
  fail "a write on a misspelt item: the probe exited $?"
[ -s "$work/misspelt.out" ] || fail "a write on a misspelt item: no status text"

# The same program through pkg-config, as the README builds it.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
"$cxx" $extra -Wall -Wextra -Werror "$consumer/main.cpp" -o "$work/rowtext-pc" \
  $(pkg-config --cflags --libs kestrelvault-edit) -Wl,-rpath,"$libdir" ||
  fail "consumer does not build through pkg-config"
check_rowtext "$work/rowtext-pc"
echo "install test: passed"
