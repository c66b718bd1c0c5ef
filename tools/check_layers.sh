#!/usr/bin/env bash
# The layer check: the folders of src/ stand in one order, and a file may include headers of its
# own folder and the folders below it, never of one above. Fails naming every file and include that
# points upward, and every folder of src/ that has no place in the order. Tests, benchmarks and
# fuzzers are not checked: they may include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

# Bottom to top (the README's layout says what each holds).
layers=(platform core screen draw display files machine runtime program)

declare -A floor
for i in "${!layers[@]}"; do floor[${layers[$i]}]=$i; done

failed=0
for dir in src/*/; do
    name=$(basename "$dir")
    if [[ ! -v floor[$name] ]]; then
        echo "src/$name/: a folder that has no place in the layer order"
        failed=1
    fi
done

include='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"/]+)/'
while IFS=: read -r file line text; do
    [[ $text =~ $include ]] || continue
    target=${BASH_REMATCH[1]}
    own=${file#src/}
    own=${own%%/*}
    [[ -v floor[$own] ]] || continue  # reported above
    if [[ ! -v floor[$target] ]]; then
        echo "$file:$line: ${text#"${text%%[![:space:]]*}"} names a folder that has no place in the layer order"
        failed=1
    elif ((floor[$target] > floor[$own])); then
        echo "$file:$line: ${text#"${text%%[![:space:]]*}"} points up from $own/ to $target/"
        failed=1
    fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' src)

if ((failed)); then
    echo "layer check failed: the order, bottom to top, is ${layers[*]}" >&2
    exit 1
fi
echo "layer check: ${layers[*]}"
