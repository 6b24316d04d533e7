# Sourced by the release checks (check-package.sh, check-dist.sh): each check
# is counted and reported, and a failure shows what its command said.
passed=0
failed=0
check() {  # check NAME COMMAND...: runs the command, counts and reports the outcome
    local name=$1; shift
    if output=$("$@" 2>&1); then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
        printf '%s\n' "$output" | head -n 20 | sed 's/^/    /'
    fi
}
finish() {  # finish WHAT: the closing count line; fails when any check did
    echo "$1: $passed passed, $failed failed"
    [[ $failed -eq 0 ]]
}
