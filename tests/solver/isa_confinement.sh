#!/bin/sh
# isa_confinement.sh OBJDUMP PROGRAM WIDE_BUILDS APX_BUILDS
#
# Disassembles PROGRAM and fails when an AVX, AVX-512 or APX instruction
# appears in a function outside the solver's instruction-set builds compiled
# for more than baseline x86-64 (the namespaces nembo::isa_<build> of
# WIDE_BUILDS, a space-separated list), or when a build of APX_BUILDS holds no
# APX encoding at all. Both lists come from cmake/isa-builds.cmake. Baseline
# code must run on any x86-64 processor; the usual culprit is an inline
# function or template that a build compiled for a wider set and the linker
# then shared.
set -eu
objdump=$1
program=$2
wide_builds=$3
apx_builds=$4

if [ ! -f "$program" ]; then
    echo "skipped: $program is not built"
    exit 77
fi

"$objdump" -d --no-show-raw-insn -C "$program" | awk -v wide="$wide_builds" -v apx_builds="$apx_builds" '
BEGIN {
    gsub(/ +/, "|", wide)
    n = split(apx_builds, apx_list, / +/)
    for (i = 1; i <= n; i++) apx_lines[apx_list[i]] = 0
}
# The build whose namespace holds the function, or "". A function template
# demangles with its return type first ("bool nembo::...").
function build_of(name,    b) {
    if (!match(name, /^([A-Za-z_][A-Za-z0-9_]* )?nembo::isa_[A-Za-z0-9_]+::/)) return ""
    b = substr(name, RSTART, RLENGTH - 2)
    sub(/^.*nembo::isa_/, "", b)
    return b
}
function exempt(name,    b) {
    b = build_of(name)
    return b != "" && ("|" wide "|") ~ ("\\|" b "\\|")
}
function apx(line) {
    return line ~ /%r(1[6-9]|2[0-9]|3[01])[bwd]?([^0-9]|$)/ || line ~ /\{nf\}|\{evex\}/ || line ~ /(^|[ \t])(push2p?|pop2p?|pushp|popp)[ \t]/
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
    if (apx(line) && (build_of(name) in apx_lines)) apx_lines[build_of(name)]++
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
    apx_total = 0
    for (b in apx_lines) {
        if (apx_lines[b] == 0) {
            printf "the %s build contains no APX encoding\n", b
            status = 1
        }
        apx_total += apx_lines[b]
    }
    if (status == 0) printf "ok: %d functions in instruction-set builds, %d APX lines in %s\n", variant_functions, apx_total, apx_builds
    exit status
}'
