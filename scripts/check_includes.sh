#!/usr/bin/env bash
# Checks which folder of the program may include which; app/layering.h says
# why. Prints every include that breaks a rule and fails when there is one.
# Usage: check_includes.sh [source tree] (default: this script's tree).
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Besides its own folder, a folder may include these.
declare -A allowed=(
  [platform]=""
  [app]="platform"
  [sendcard]="app platform"
  [videoio]="app platform"
  [videoproc]="app platform sendcard videoio"
  [cloud]="app platform protocol"
  [protocol]="app platform cloud sendcard videoio videoproc"
  [ui]="app platform protocol sendcard videoio videoproc"
)
# Files with more: main wires the program together; the change dispatcher
# refreshes the page in front.
declare -A wider=(
  [app/main.cpp]="cloud protocol sendcard ui videoio videoproc"
  [app/syncupdate.cpp]="ui"
)

status=0
fail() {
  echo "$1" >&2
  status=1
}

for dir in "${!allowed[@]}"; do
  while IFS=: read -r file line target; do
    folder=${target%%/*}
    [[ $folder == "$dir" || " ${allowed[$dir]} ${wider[$file]:-} " == *" $folder "* ]] && continue
    fail "$file:$line: $dir/ may not include $target"
  done < <(grep -rnE '^#include "[a-z]+/' "$dir" | sed -E 's/:#include "([^"]+)".*/:\1/')
done

# The image's lock and the apply request come from the store, never through
# the chip manager's header.
while read -r file; do
  grep -q '#include "app/para_lock.h"' "$file" ||
    fail "$file: takes the image's lock or raises the apply request without app/para_lock.h"
done < <(grep -rlE '^([^/]|/[^/])*\b(ParaLock|raise_apply_request)' app protocol videoio ui cloud sendcard |
         grep -v '^app/para_lock\.')

# A command handler includes the chip manager only to use the chip.
while read -r file; do
  grep -q 'c331_manage::' "$file" ||
    fail "$file: includes videoproc/c331_manage.h but uses no chip manager"
done < <(grep -rl '#include "videoproc/c331_manage.h"' protocol)

exit "$status"
