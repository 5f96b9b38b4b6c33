#!/usr/bin/env bash
# Checks that every folder under src/ includes only what its README.md allows, so that the
# folders never form a circle again. Each folder's README has a paragraph starting
# "May include:"; the folders (`frame/`) and single headers (`processing/chart_data.h`) named in
# backticks there are what the folder's files may include besides their own folder. Qt headers
# are allowed only where the paragraph starts with "May include: Qt". Whatever the READMEs say,
# the folders' includes must not form a circle.
# Usage: check-includes.sh [SRC_DIR]   (default: the src/ beside this script). Exit status 1 and
# one line per offending include when a rule is broken.
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}
status=0
edges=""  # "from to" for every include that crosses folders

for dir in "$src"/*/; do
  folder=$(basename "$dir")
  readme=$dir/README.md
  if [ ! -f "$readme" ]; then
    echo "src/$folder: no README.md saying what it may include"
    status=1
    continue
  fi
  # The "May include:" paragraph, joined into one line.
  rule=$(awk '/^May include:/ {on = 1} on && /^[[:space:]]*$/ {exit} on {printf "%s ", $0}' "$readme")
  if [ -z "$rule" ]; then
    echo "src/$folder/README.md: no \"May include:\" paragraph"
    status=1
    continue
  fi
  allowed=$(grep -o '`[A-Za-z_]*/[A-Za-z_./]*`' <<<"$rule" | tr -d '`' || true)
  qt_allowed=0
  if [[ $rule == "May include: Qt"* ]]; then
    qt_allowed=1
  fi

  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    text=${rest#*:}
    where="src/$folder/$(basename "$file"):$line"
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*)[/\>] ]]; then
      if [ "$qt_allowed" = 0 ]; then
        echo "$where: includes Qt (<${BASH_REMATCH[1]}>), which src/$folder/README.md does not allow"
        status=1
      fi
      continue
    fi
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([A-Za-z_]+)/([^\"]+)\" ]]; then
      target_folder=${BASH_REMATCH[1]}
      target="$target_folder/${BASH_REMATCH[2]}"
      if [ "$target_folder" = "$folder" ] || [ ! -d "$src/$target_folder" ]; then
        continue
      fi
      edges+="$folder $target_folder"$'\n'
      ok=0
      for entry in $allowed; do
        if [ "$entry" = "$target_folder/" ] || [ "$entry" = "$target" ]; then
          ok=1
          break
        fi
      done
      if [ "$ok" = 0 ]; then
        echo "$where: includes \"$target\", which src/$folder/README.md does not allow"
        status=1
      fi
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' "$dir" --include='*.h' --include='*.cpp' || true)
done

if ! loop=$(printf '%s' "$edges" | sort -u | tsort 2>&1 >/dev/null) || [ -n "$loop" ]; then
  echo "The folders under src/ include each other in a circle:"
  echo "$loop"
  status=1
fi

if [ "$status" = 0 ]; then
  echo "Every folder under src/ includes only what its README.md allows."
fi
exit "$status"
