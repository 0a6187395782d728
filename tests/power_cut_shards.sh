#!/usr/bin/env bash
# A power-cut survey in two shards, run by GNU parallel and merged, is the unsharded survey (apart
# from host timings); a merge of shards made with different settings is refused and names the first
# difference. Usage: power_cut_shards.sh RECOVERY_SIM
set -euo pipefail
rsim=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
survey=(--part "Winbond 25Q32" --power-cut-survey --spread-only --cuts 24 --quiet)

"$rsim" "${survey[@]}" --report "$dir/whole.json"
parallel --will-cite --quote --halt now,fail=1 "$rsim" "${survey[@]}" --shard {}/2 --report "$dir/shard{}.json" ::: 1 2
"$rsim" --merge "$dir/shard1.json" "$dir/shard2.json" --report "$dir/merged.json" --quiet

python3 - "$dir" <<'PY'
import json, sys
d = sys.argv[1]
whole, merged = (json.load(open(f"{d}/{n}.json")) for n in ("whole", "merged"))
for j in (whole, merged):
    j.pop("host_seconds")
assert whole["summary"]["cuts"] == 24, whole["summary"]
assert whole == merged, "the merged shards differ from the whole survey"
shard = json.load(open(f"{d}/shard2.json"))
shard["settings"]["seed"] = 7
json.dump(shard, open(f"{d}/other.json", "w"))
PY

status=0
err=$("$rsim" --merge "$dir/shard1.json" "$dir/other.json" --report "$dir/bad.json" 2>&1 >/dev/null) || status=$?
[ "$status" -eq 2 ] || { echo "merge of different settings exited $status: $err"; exit 1; }
[[ $err == *"was made with seed 7, report 1 with"* ]] || { echo "unexpected message: $err"; exit 1; }
[ ! -e "$dir/bad.json" ] || { echo "a refused merge wrote its report"; exit 1; }
echo "shards merged into the whole survey; a merge of other settings refused: $err"
