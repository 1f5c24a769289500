#!/usr/bin/env bash
# The one-liner a user would write instead of cueprune: slurp each sheet and drop its pregap
# lines in place.
find "$1" -type f -iname '*.cue' -not -path '*/.*' -print0 |
    xargs -0 perl -0777 -i -pe 's/^[^\n]*INDEX 00[^\n]*\n(?=[^\n]*INDEX 01)//mg'
