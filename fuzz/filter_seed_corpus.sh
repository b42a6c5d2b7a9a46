#!/usr/bin/env bash
# Seeds the corpus of filter_fuzz: valid filter texts over the fuzz target's fixed table, each
# behind an option byte (bit 0 case-insensitive, bit 1 no partial compare, bit 2 comma decimal
# separator, bit 3 a table data set on a database file). Usage: fuzz/filter_seed_corpus.sh CORPUS_DIR
set -euo pipefail
out=${1:?corpus directory}
mkdir -p "$out"
n=0
while IFS='|' read -r options text; do
  n=$((n + 1))
  printf "\\x$options%s" "$text" > "$out/seed_$n"
done <<'EOF_SEEDS'
00|Name = 'Sm*' AND Qty >= 10
02|Name = 'Sm*' OR Name <> 'x'
01|Code LIKE 'a_%' OR Wide IN ('w', 'x', Name)
00|Birth > '12/31/99' AND Stamp < GETDATE()
00|AtTime - '10:30:15.5 PM' > 0 OR AtTime < '2001-01-01T10:00'
03|UPPER(SUBSTRING(Name, 2, 3)) + TRIM(Memo) = LOWER('X')
00|YEAR(Birth) = 2000 AND HOUR(Stamp) IN (1, 2, 3) AND MINUTE(AtTime) <> SECOND(Stamp)
00|(Price / 2 + Cost * 3 - Big) <> 1.5e3 /* comment */
04|Price IN (1,5, 2) OR Cost > 0,25
00|NOT Flag = True AND [Small] + WordF < -5
00|Stamp - Birth > 86400000 OR Birth - 1 = Id
00|'3/4/2001' - Stamp < 0 OR Data LIKE '%%_' OR Memo + Name LIKE '%e%'
00|Birth + 1 = Birth AND Stamp + 0.5 >= Stamp - '1/1/2000 1 AM'
00|TRIMLEFT(Guid) = TRIMRIGHT(Code) OR Big * Small / Qty < Price
08|Name = 'Sm*' AND Qty >= 7 OR Memo LIKE '%__%'
0b|Code LIKE 'AB%' AND Birth > '1/1/2000' OR AtTime >= '11:59 PM'
08|YEAR(Stamp) = 2000 AND Data = '' OR Big < 0 OR Cost - Price < -1
EOF_SEEDS
echo "$n seeds in $out"
