#!/bin/bash
# Prints the size of the test suite against the product code: non-blank,
# non-comment lines of .c/.cpp/.h files, and tests as a share of product.
#   scripts/count-test-lines.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
count() {
  git ls-files --cached --others --exclude-standard -- "$@" | grep -E '\.(c|cpp|h)$' | python3 -c '
import re, sys
total = 0
for path in sys.stdin.read().split():
    text = open(path, encoding="utf-8", errors="replace").read()
    # Drops comments but keeps string literals that look like them.
    text = re.sub(r"\"(\\.|[^\"\\\n])*\"|/\*.*?\*/|//[^\n]*",
                  lambda m: m.group(0) if m.group(0)[0] == "\"" else
                  "\n" * m.group(0).count("\n"), text, flags=re.S)
    total += sum(1 for line in text.splitlines() if line.strip())
print(total)'
}
product=$(count capture format naming notify spooler platform ostralib tools)
tests=$(count tests)
echo "product ${product}, tests ${tests}, tests/product $((100 * tests / product))%"
