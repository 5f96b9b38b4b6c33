#!/usr/bin/env bash
# Checks that every folder under src/, and the folder of the `thermal` tool, includes only what
# its README.md allows, so that the folders never form a circle again and the tool never reaches
# into the GUI. Each folder's README has a paragraph starting "May include:"; the folders
# (`frame/`) and single headers (`processing/chart_data.h`) named in backticks there are what the
# folder's files may include besides their own folder (a tool folder's subfolders too). Qt headers
# are allowed only where the paragraph starts with "May include: Qt". Whatever the READMEs say,
# the folders under src/ must not include each other in a circle.
# Usage: check-includes.sh [SRC_DIR [TOOL_DIR...]]   (default: the src/ and tools/thermal/ beside
# this script). Exit status 1 and one line per offending include when a rule is broken.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
src=${1:-$here/src}
shift || true
tools=("$@")
if [ ${#tools[@]} -eq 0 ]; then
  tools=("$here/tools/thermal")
fi
status=0
edges=""  # "from to" for every include that crosses folders under src/

for dir in "$src"/*/ "${tools[@]/%//}"; do
  folder=$(basename "$dir")
  if [[ $dir == "$src"/* ]]; then
    label=src/$folder
  else
    label=tools/$folder
  fi
  readme=$dir/README.md
  if [ ! -f "$readme" ]; then
    echo "$label: no README.md saying what it may include"
    status=1
    continue
  fi
  # The "May include:" paragraph, joined into one line.
  rule=$(awk '/^May include:/ {on = 1} on && /^[[:space:]]*$/ {exit} on {printf "%s ", $0}' "$readme")
  if [ -z "$rule" ]; then
    echo "$label/README.md: no \"May include:\" paragraph"
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
    where="$label/${file#"$dir"}:$line"
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*)[/\>] ]]; then
      if [ "$qt_allowed" = 0 ]; then
        echo "$where: includes Qt (<${BASH_REMATCH[1]}>), which $label/README.md does not allow"
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
      if [ "$label" = "src/$folder" ]; then
        edges+="$folder $target_folder"$'\n'
      fi
      ok=0
      for entry in $allowed; do
        if [ "$entry" = "$target_folder/" ] || [ "$entry" = "$target" ]; then
          ok=1
          break
        fi
      done
      if [ "$ok" = 0 ]; then
        echo "$where: includes \"$target\", which $label/README.md does not allow"
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
  echo "Every folder under src/ and the tool's folder include only what their README.md allows."
fi
exit "$status"
