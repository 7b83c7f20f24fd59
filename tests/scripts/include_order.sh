#!/usr/bin/env bash
# The folders of src/ are layered, and includes point one way: a folder
# includes only itself and the folders before it in
#   util platform link terminal display phonebook {menu transfer scrollback} session app
# (menu, transfer and scrollback side by side: none of them includes another).
# An upward include is a dependency the layering forbids; this fails on it.
# Usage: include_order.sh BUILD_DIR SOURCE_DIR
set -u
src="${2:?source directory}"
cd "$src" || exit 1

# Rank of each folder; folders of equal rank may not include each other.
# "assets/..." is the generated header of the embedded data (kavel_assets,
# cmake/extra-assets.cmake): data below every layer that uses it.
declare -A rank=([util]=0 [assets]=0 [platform]=1 [link]=2 [terminal]=3 [display]=4 [phonebook]=5
                 [menu]=6 [transfer]=6 [scrollback]=6 [session]=7 [app]=8)
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([a-z_]+)/[^"]+"'

bad=""
checked=0
while IFS= read -r line; do
  file=${line%%:*}
  rest=${line#*:}
  rest=${rest#*:}
  from=${file#src/}
  from=${from%%/*}
  [[ $rest =~ $pattern ]] || continue
  to=${BASH_REMATCH[1]}
  checked=$((checked + 1))
  if [ -z "${rank[$from]+x}" ]; then
    bad+="$file: folder src/$from has no place in the layer order"$'\n'
    continue
  fi
  if [ -z "${rank[$to]+x}" ]; then
    bad+="$file: includes \"$to/...\", which is no folder of src/"$'\n'
    continue
  fi
  [ "$from" = "$to" ] && continue
  if [ "${rank[$to]}" -ge "${rank[$from]}" ]; then
    bad+="$file: $from includes $to: ${rest}"$'\n'
  fi
done < <(grep -rnE --include='*.cpp' --include='*.h' -e "$pattern" src)

if [ -n "$bad" ]; then
  echo "includes against the layer order:"
  printf '%s' "$bad"
  exit 1
fi
# The check itself must see the includes it looks for: every folder that
# holds code includes something of its own or of a folder below it.
for dir in src/*/; do
  dir=${dir%/}
  if ls "$dir"/*.cpp >/dev/null 2>&1 && ! grep -rqE -e "$pattern" "$dir"; then
    echo "the include pattern no longer matches the includes of $dir"
    exit 1
  fi
done
if [ "$checked" -lt 100 ]; then
  echo "only $checked includes matched: the pattern no longer sees them"
  exit 1
fi
echo "includes follow the layer order ($checked checked)"
