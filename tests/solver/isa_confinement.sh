#!/bin/sh
# isa_confinement.sh OBJDUMP PROGRAM
#
# Disassembles PROGRAM and fails when an AVX, AVX-512 or APX instruction
# appears in a function outside the solver's instruction-set builds (the
# namespaces nembo::isa_avx, isa_fma, isa_fma_apx, isa_avx512, isa_avx512vl),
# or when the fma-apx build holds no APX encoding at all. Baseline code must
# run on any x86-64 processor; the usual culprit is an inline function or
# template that a build compiled for a wider set and the linker then shared.
set -eu
objdump=$1
program=$2

if [ ! -f "$program" ]; then
    echo "skipped: $program is not built"
    exit 77
fi

"$objdump" -d --no-show-raw-insn -C "$program" | awk '
# A function template demangles with its return type first ("bool nembo::...").
function exempt(name) {
    return name ~ /^([A-Za-z_][A-Za-z0-9_]* )?nembo::isa_(avx|fma|fma_apx|avx512|avx512vl)::/
}
function apx(line) {
    return line ~ /%r(1[6-9]|2[0-9]|3[01])[bwd]?([^0-9]|$)/ || line ~ /\{nf\}|\{evex\}/ || line ~ /(^|[ \t])(push2|pop2)p?[ \t]/
}
function vector(mnemonic, operands) {
    if (operands ~ /%zmm|%k[0-7]([^0-9]|$)/) return 1
    if (mnemonic ~ /^v/ && (operands ~ /%[xy]mm/ || mnemonic ~ /^vzero/ || mnemonic ~ /^v(ld|st)mxcsr/)) return 1
    return 0
}
/^[0-9a-f]+ <.*>:$/ {
    name = $0
    sub(/^[0-9a-f]+ </, "", name)
    sub(/>:$/, "", name)
    if (exempt(name)) variant_functions++
    next
}
/^ *[0-9a-f]+:[ \t]/ {
    line = $0
    sub(/^ *[0-9a-f]+:[ \t]*/, "", line)
    mnemonic = line
    sub(/[ \t].*$/, "", mnemonic)
    if (mnemonic ~ /^\{/) {            # a prefix such as {nf} or {evex}
        rest = line
        sub(/^\{[^}]*\}[ \t]*/, "", rest)
        mnemonic = rest
        sub(/[ \t].*$/, "", mnemonic)
    }
    operands = line
    sub(/^[^ \t]*[ \t]*/, "", operands)
    if (name ~ /^nembo::isa_fma_apx::/ && apx(line)) apx_in_variant++
    if (!exempt(name) && (vector(mnemonic, operands) || apx(line))) {
        bad++
        if (bad <= 40) printf "outside the instruction-set builds: <%s>: %s\n", name, line
    }
}
END {
    status = 0
    if (variant_functions == 0) {
        print "no function of the instruction-set builds found: wrong program?"
        status = 1
    }
    if (bad > 0) {
        printf "%d wide-instruction lines outside the instruction-set builds\n", bad
        status = 1
    }
    if (apx_in_variant == 0) {
        print "the fma-apx build contains no APX encoding"
        status = 1
    }
    if (status == 0) printf "ok: %d functions in instruction-set builds, %d APX lines in fma-apx\n", variant_functions, apx_in_variant
    exit status
}'
