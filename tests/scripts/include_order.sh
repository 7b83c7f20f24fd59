#!/usr/bin/env bash
# The folders of src/ are layered, and includes point one way: a folder
# includes only itself and the folders before it in
#   util platform link terminal display phonebook {menu transfer scrollback} dial session app
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
                 [menu]=6 [transfer]=6 [scrollback]=6 [dial]=7
                 [session]=8 [app]=9)
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

# Within a folder, no two units include each other in a circle: a header
# and its source are one unit (x.h and x.cpp are x), and unit a depends on
# unit b when a.h or a.cpp includes "folder/b.h".  A circle means neither
# half can be understood, tested or moved without the other.
# Circles found before this check existed, still to be broken: each line is
# a folder and the units of one circle, sorted.  A circle not listed here
# fails, and so does a listed one that is gone (take it off the list).
allowed_circles=(
)
found=$(grep -rnoE --include='*.cpp' --include='*.h' -e "$pattern" src |
  awk -F: '
    {
      file = $1; n = split(file, part, "/"); folder = part[2]; unit = part[n]
      sub(/\.(cpp|h)$/, "", unit)
      inc = $0; sub(/^[^"]*"/, "", inc); sub(/"$/, "", inc)
      split(inc, ip, "/"); if (ip[1] != folder) next
      to = ip[2]; sub(/\.h$/, "", to)
      node[folder SUBSEP unit] = 1; node[folder SUBSEP to] = 1
      if (to != unit) reach[folder SUBSEP unit SUBSEP folder SUBSEP to] = 1
    }
    END {
      # Transitive closure (the folders hold a few dozen units at most).
      for (k in node) for (i in node) if ((i SUBSEP k) in reach)
        for (j in node) if ((k SUBSEP j) in reach) reach[i SUBSEP j] = 1
      for (i in node) {
        if (!((i SUBSEP i) in reach) || (i in done)) continue
        split(i, a, SUBSEP); line = ""
        for (j in node) if ((i SUBSEP j) in reach && (j SUBSEP i) in reach) {
          done[j] = 1; split(j, b, SUBSEP); units[++m] = b[2]
        }
        # Sort the units so that a circle reads the same on every run.
        for (x = 1; x <= m; x++) for (y = x + 1; y <= m; y++)
          if (units[y] < units[x]) { t = units[x]; units[x] = units[y]; units[y] = t }
        for (x = 1; x <= m; x++) line = line " " units[x]
        print a[1] ":" line; m = 0
      }
    }' | sort)
circle_bad=""
while IFS= read -r circle; do
  [ -n "$circle" ] || continue
  listed=0
  for ok in "${allowed_circles[@]}"; do [ "$ok" = "$circle" ] && listed=1; done
  [ "$listed" = 1 ] || circle_bad+="files include each other in a circle: src/$circle"$'\n'
done <<<"$found"
for ok in "${allowed_circles[@]}"; do
  grep -qxF -e "$ok" <<<"$found" ||
    circle_bad+="no longer a circle, take it off the allowed list: src/$ok"$'\n'
done
if [ -n "$circle_bad" ]; then
  printf '%s' "$circle_bad"
  exit 1
fi
echo "includes follow the layer order ($checked checked), no circle within a folder beyond the ${#allowed_circles[@]} listed"
