#!/bin/bash
# Checks of what the tool ships with: the .deb, `cmake --install`, the manual
# page, the bash completion, and that both document every option.
#
#   check.sh <case> <source dir> <build dir> <sarvek binary> <sanitized 0|1>
#
# Exit 0 passes, 1 fails, 77 skips (a missing system tool, or a sanitized
# build, which is not for packaging).
set -u
case_name=$1 src=$2 build=$3 bin=$4 sanitized=${5:-0}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
skip() { echo "SKIP: $*" >&2; exit 77; }
need() { for tool; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/sarvek-package.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
sample=$build/sample.db
shipped=(bin/sarvek share/man/man1/sarvek.1.gz share/bash-completion/completions/sarvek
         share/doc/sarvek/copyright)

# The installed files under <root>, with their modes and contents.
check_installed_files() {
  local root=$1 where=$2
  for f in "${shipped[@]}"; do [ -f "$root/$f" ] || fail "$where: $f is missing"; done
  [ -x "$root/bin/sarvek" ] || fail "$where: bin/sarvek is not executable"
  for f in "${shipped[@]:1}"; do
    [ "$(stat -c %a "$root/$f" 2>/dev/null)" = 644 ] || fail "$where: $f is not mode 644"
  done
  gzip -dc "$root/share/man/man1/sarvek.1.gz" 2>/dev/null | cmp -s - "$build/sarvek.1" ||
    fail "$where: the manual page differs from the one made from doc/sarvek.1.in"
  cmp -s "$root/share/bash-completion/completions/sarvek" "$src/completion/sarvek" ||
    fail "$where: the completion differs from completion/sarvek"
  cmp -s "$root/share/doc/sarvek/copyright" "$src/doc/copyright" ||
    fail "$where: the copyright file differs from doc/copyright"
}

# The installed binary prints what the built one prints.
check_same_behaviour() {
  local installed=$1 where=$2
  [ "$("$installed" --version 2>&1 >/dev/null)" = "$("$bin" --version 2>&1 >/dev/null)" ] ||
    fail "$where: --version banner differs"
  "$installed" -V | grep -q '^sarvek version ' || fail "$where: -V prints no banner"
  for mode in "" --freespace; do
    "$installed" -i "$sample" $mode > "$scratch/installed.csv"
    "$bin" -i "$sample" $mode > "$scratch/built.csv"
    [ -s "$scratch/built.csv" ] || fail "built binary found no rows in $sample $mode"
    cmp -s "$scratch/installed.csv" "$scratch/built.csv" ||
      fail "$where: rows of $sample $mode differ from the built binary's"
  done
}

# Long and short options named by the help text.
help_options() {
  "$bin" -h | { IFS= read -r usage; printf '%s\n' "${usage#"$bin" }"; cat; } | grep -oE '(^|[[:space:][|])--?[a-zA-Z][a-z-]*' | sed 's/^[[:space:][|]*//' | sort -u
}

# Calls the completion function on the given words, the last being completed;
# prints the candidates one a line.
complete_words() {
  bash -c 'source "$1"; shift
    [ -n "${WORDBREAKS+x}" ] && COMP_WORDBREAKS=$WORDBREAKS
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _sarvek sarvek "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$src/completion/sarvek" "$@"
}
expect_completion() {
  local want got
  want=$(printf '%s\n' $1 | LC_ALL=C sort | paste -sd' '); shift
  got=$(complete_words "$@" | LC_ALL=C sort | paste -sd' ')
  [ "$got" = "$want" ] || fail "completing [$*]: got [$got], want [$want]"
}

case $case_name in
deb)
  [ "$sanitized" = 1 ] && skip "sanitized builds are not packaged"
  need cpack dpkg-deb dpkg gzip
  (cd "$build" && cpack -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; exit 1; }
  debs=("$scratch"/out/*.deb)
  [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { fail "want one .deb, got: ${debs[*]}"; exit 1; }
  deb=${debs[0]}
  version=$("$bin" -V | sed -n 's/^sarvek version \([^,]*\),.*/\1/p')
  [ "$(basename "$deb")" = "sarvek_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package file name $(basename "$deb")"
  [ "$(dpkg-deb -f "$deb" Package)" = sarvek ] || fail "package name"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
  [ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section"
  [ "$(dpkg-deb -f "$deb" Maintainer)" = "sarvek developers <sarvek-dev@example.org>" ] ||
    fail "maintainer"
  dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no shared-library dependencies found"
  [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no description"
  # Exactly the shipped files, nothing of the build or the tests.
  listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort | paste -sd' ')
  want=$(printf '%s\n' "${shipped[@]}" | sort | paste -sd' ')
  [ "$listed" = "$want" ] || fail "package holds [$listed], want [$want]"
  dpkg -x "$deb" "$scratch/root" || fail "dpkg -x failed"
  check_installed_files "$scratch/root/usr" "package"
  check_same_behaviour "$scratch/root/usr/bin/sarvek" "package"
  ;;
install)
  [ "$sanitized" = 1 ] && skip "sanitized builds are not installed"
  need cmake gzip
  cmake --install "$build" --prefix "$scratch/prefix" > "$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
  check_installed_files "$scratch/prefix" "cmake --install --prefix"
  check_same_behaviour "$scratch/prefix/bin/sarvek" "cmake --install --prefix"
  DESTDIR=$scratch/dest cmake --install "$build" > "$scratch/install.log" 2>&1 ||
    fail "cmake --install with DESTDIR failed"
  prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
  check_installed_files "$scratch/dest$prefix" "DESTDIR install"
  ;;
man_page)
  need groff man
  warnings=$(groff -man -Tutf8 -ww -z "$build/sarvek.1" 2>&1)
  [ -z "$warnings" ] || fail "groff warns: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$build/sarvek.1" \
    > "$scratch/page.txt" 2> "$scratch/man.err" || fail "man -l failed"
  [ -s "$scratch/man.err" ] && fail "man -l warns: $(cat "$scratch/man.err")"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "OUTPUT FORMAT" "BLOB FILES" \
                 "EXIT STATUS" EXAMPLES PROGRESS CAVEATS "SEE ALSO"; do
    grep -q "^$section\$" "$scratch/page.txt" || fail "man page has no $section section"
  done
  grep -q '^SARVEK(1) ' "$scratch/page.txt" || fail "man page is not SARVEK(1)"
  ;;
options_documented)
  # The roff source with its dash and font escapes removed.
  sed 's/\\-/-/g; s/\\f[BIRP]//g' "$build/sarvek.1" > "$scratch/page.txt"
  options=$(help_options)
  [ "$(echo "$options" | wc -l)" -ge 20 ] || fail "too few options read from -h: $options"
  completion_opts=$(sed -n "/local opts=/,/'\$/p" "$src/completion/sarvek" |
    grep -oE -- '--?[a-zA-Z][a-z-]*' | sort -u)
  # Each option heads an entry of its own: a tagged paragraph (.TP) whose tag
  # names it.
  awk 'tag { print } { tag = ($1 == ".TP") }' "$scratch/page.txt" > "$scratch/entries.txt"
  for opt in $options; do
    grep -qE -- "(^|[ ])$opt([ =]|\$)" "$scratch/entries.txt" || fail "$opt has no entry in the manual page"
    echo "$completion_opts" | grep -qx -- "$opt" || fail "$opt is not in the completion"
  done
  for opt in $completion_opts; do
    echo "$options" | grep -qx -- "$opt" || fail "the completion offers $opt, which -h does not name"
  done
  # The version and the messages the page quotes are the binary's own.
  version=$("$bin" -V | sed -n 's/^sarvek version \([^,]*\),.*/\1/p')
  grep -q "^\.TH SARVEK 1 \"[^\"]*\" \"sarvek $version\"" "$build/sarvek.1" ||
    fail "manual page is not for version $version"
  "$bin" -i x --bogus 2>&1 | grep -q '^Cannot interpret extended parameter: "--bogus"$' &&
    grep -q '^Cannot interpret extended parameter: "' "$scratch/page.txt" ||
    fail "unknown-option message differs between binary and manual page"
  "$bin" -i 2>&1 | grep -qx 'Not enough paramters' && grep -q 'Not enough paramters' "$scratch/page.txt" ||
    fail "missing-argument message differs between binary and manual page"
  ;;
completion)
  need bash
  mkdir -p "$scratch/cwd/cases" && touch "$scratch/cwd/a.db" "$scratch/cwd/b.txt" "$scratch/cwd/cases/c.db"
  cd "$scratch/cwd" || exit 1
  expect_completion "--freespace --freespace-minimum=" sarvek -i a.db --fr
  expect_completion "--fine-search" sarvek --fi
  expect_completion "--rowsize-max= --rowsize-min=" sarvek --rowsize-m
  [ "$(complete_words sarvek -i a.db - | wc -l)" = 35 ] || fail "- does not offer the 35 options"
  [ "$(complete_words sarvek "" | wc -l)" = 35 ] || fail "an empty word does not offer the 35 options"
  expect_completion "" sarvek -i a.db bare
  [ "$(complete_words sarvek -- | wc -l)" = 29 ] || fail "-- does not offer the 29 long options"
  expect_completion "" sarvek --deep -j ""
  expect_completion "--deep" sarvek -i a.db --de
  expect_completion "a.db" sarvek --deep --export = a
  expect_completion "none" sarvek --deep --wal = n
  expect_completion "csv jsonl" sarvek --deep --format =
  expect_completion "cases" sarvek --deep --out-dir = c
  # --page-size= values, with bash's default word breaks (the word split at
  # "=") and without "=" among them (the word whole).
  expect_completion "512 1024 2048 4096 8192 16384 32768 65536" sarvek -i a.db --page-size =
  expect_completion "1024 16384" sarvek --page-size = 1
  WORDBREAKS=$' \t\n' expect_completion "--page-size=4096" sarvek --page-size=4
  expect_completion "" sarvek --rowsize-min =
  # -i completes file names, also names that begin with a dash.
  expect_completion "a.db" sarvek -i a
  expect_completion "a.db b.txt cases" sarvek -d -i ""
  expect_completion "cases/c.db" sarvek -i cases/
  touch ./-d.db && expect_completion "-d.db" sarvek -i -d
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
[ $failures = 0 ] || { echo "$failures failure(s) in $case_name" >&2; exit 1; }
echo "$case_name: passed"
