#!/usr/bin/env bash
# usage: avx-confined.sh OBJDUMP PLUGIN
# The plug-in runs on processors without AVX: its AVX code (VEX-encoded instructions) must lie
# only in functions that one unit owns (an anonymous namespace in the name), which it reaches
# after checking the processor. A function several units share (an inline function of a header, a
# template on shared types, a unit's static initialiser) compiled for AVX could be the copy the
# linker keeps for every caller.
set -euo pipefail
objdump=$1
plugin=$2
report=$("$objdump" -d --no-show-raw-insn -C "$plugin" | awk '
    /^[0-9a-f]+ <.*>:$/ { name = $0; next }
    /\tv[a-z0-9]+ .*%[xy]mm/ {
        if (name ~ /\(anonymous namespace\)/) owned[name] = 1
        else shared[name] = 1
    }
    END {
        for (n in owned) ownedCount++
        for (n in shared) print "shared function with AVX instructions: " n
        print ownedCount + 0, "functions of their own units with AVX instructions"
    }')
echo "$report"
# Some AVX code must be found, or the names this check reads have changed.
! grep -q "^shared function" <<<"$report" && ! grep -q "^0 functions" <<<"$report"
