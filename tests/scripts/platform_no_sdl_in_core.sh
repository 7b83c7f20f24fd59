#!/usr/bin/env bash
# Only the platform layer may talk to SDL, FreeType or fontconfig: the rest of
# the program (and its tests and tools) goes through src/platform's headers.
# Usage: platform_no_sdl_in_core.sh BUILD_DIR SOURCE_DIR
set -u
src="${2:?source directory}"
cd "$src" || exit 1
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](SDL2?/|SDL[_.]|ft2build\.h|freetype/|FT_|fontconfig/)'
# FreeType also includes through macros such as FT_FREETYPE_H.
macro='^[[:space:]]*#[[:space:]]*include[[:space:]]+FT_[A-Z_]+_H'
found=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.hpp' --include='*.cc' \
          -e "$pattern" -e "$macro" src tests tools bench fuzz 2>/dev/null | grep -v '^src/platform/')
if [ -n "$found" ]; then
  echo "SDL, FreeType or fontconfig included outside src/platform:"
  echo "$found"
  exit 1
fi
# The check itself must see the includes it looks for.
if ! grep -rqE -e "$pattern" src/platform; then
  echo "the include pattern no longer matches src/platform's own includes"
  exit 1
fi
echo "no SDL, FreeType or fontconfig outside src/platform"
