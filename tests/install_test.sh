#!/usr/bin/env bash
# Installs a build folder into a temporary prefix with `cmake --install` and checks the tree:
# exactly the binary, the manual page, the bash completion, the licence and the changelog (and,
# for a static binary, the word to lintian that it is meant to be static), and an installed
# zoqc that reports the version and translates examples/hello as the built one does.
#   bash tests/install_test.sh BUILD_DIR VERSION
set -u
build=$(realpath -e "${1:?usage: install_test.sh BUILD_DIR VERSION}") || exit 2
version=${2:?usage: install_test.sh BUILD_DIR VERSION}
hello=$(cd "$(dirname "$0")/../examples/hello" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() { echo "$*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "cmake --install failed"; }
tree=$(cd "$prefix" && find . -type f -o -type l | sort)
want="./bin/zoqc
./share/bash-completion/completions/zoqc
./share/doc/zoqc/changelog.gz
./share/doc/zoqc/copyright
$(readelf -lW "$build/zoqc" | grep -q INTERP || echo ./share/lintian/overrides/zoqc)
./share/man/man1/zoqc.1.gz"
want=$(grep . <<<"$want")
[[ $tree == "$want" ]] || fail "installed tree differs:"$'\n'"$tree"$'\n'"wanted:"$'\n'"$want"
[[ -x $prefix/bin/zoqc ]] || fail "bin/zoqc is not executable"
zcat "$prefix/share/man/man1/zoqc.1.gz" | grep -q '^\.TH ZOQC 1 ' || fail "zoqc.1.gz is not a manual page"
zcat "$prefix/share/doc/zoqc/changelog.gz" | head -1 | grep -q "^zoqc ($version) " ||
  fail "the changelog does not begin with version $version"
grep -q '^complete -F _zoqc zoqc$' "$prefix/share/bash-completion/completions/zoqc" ||
  fail "the completion does not register itself for zoqc"
grep -q '^MIT License' "$prefix/share/doc/zoqc/copyright" || fail "copyright is not the licence"

got=$("$prefix/bin/zoqc" --version) || fail "zoqc --version failed"
[[ $got == "zoqc $version" ]] || fail "zoqc --version printed '$got', want 'zoqc $version'"

# The installed binary and the built one make the same page from the hello example.
for who in installed built; do
  mkdir "$scratch/$who" && cp "$hello"/hello.zoq "$hello"/hello.zot "$scratch/$who/"
done
out=$(cd "$scratch/installed" && "$prefix/bin/zoqc" hello) || fail "installed zoqc failed: $out"
[[ $(tail -n 1 <<<"$out") == "Compile sucessful." ]] || fail "installed zoqc printed: $out"
(cd "$scratch/built" && "$build/zoqc" -q hello) || fail "built zoqc failed"
cmp "$scratch/installed/hello.php" "$scratch/built/hello.php" || fail "the pages differ"
grep -q '<?php echo $ZOQBLOCK_row;?>' "$scratch/installed/hello.php" || fail "hello.php has no block"
echo "install ok: $(wc -l <<<"$tree") files under the prefix, hello translated"
