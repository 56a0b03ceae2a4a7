# The watermark band of a wizard's closing page in a screenshot (sourced by the Wine tests):
#   watermark_band FILE [X Y WIDTH HEIGHT]
# looks at three rows across the page (a quarter, half and three quarters down; within the rectangle
# when one is given): the band is the run of the watermark's blue from the left edge; from its end the
# white of the page must follow at once, with no dialog-colour (grey) pixels between the left edge and
# the band or between the band and the white. The rows avoid nothing: the white figure drawn inside
# the band lies before the band's last blue pixel and does not count. Prints one line per row
# ("row Y: band A-B, white from C, N grey"); returns 1 when a row has no band, no white after it, or a
# gap of more than 2 grey pixels.
watermark_band() {
  local file=$1 x=${2:-0} y=${3:-0} w=${4:-} h=${5:-} row verdict rc=0
  [ -n "$w" ] || w=$(identify -format %w "$file" 2>/dev/null)
  [ -n "$h" ] || h=$(identify -format %h "$file" 2>/dev/null)
  [ -n "$w" ] && [ -n "$h" ] || { echo "watermark_band: cannot read $file"; return 1; }
  for row in $((y + h / 4)) $((y + h / 2)) $((y + h * 3 / 4)); do
    verdict=$(convert "$file" -crop "${w}x1+${x}+${row}" +repage -depth 8 txt:- 2>/dev/null \
      | sed -n 's/^\([0-9]*\),0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3 \4/p' \
      | awk -v w="$w" -v row="$row" '
          { x[NR] = $1; r[NR] = $2; g[NR] = $3; b[NR] = $4; n = NR }
          function blue(i) { return b[i] > r[i] + 40 && b[i] > 90 }
          function white(i) { return r[i] >= 250 && g[i] >= 250 && b[i] >= 250 }
          function grey(i) { return r[i] == g[i] && g[i] == b[i] && r[i] >= 150 && r[i] < 250 }
          END {
            first = 0; last = 0
            for (i = 1; i <= n && x[i] < w / 2; i++)
              if (blue(i)) { if (!first) first = i; last = i }
            if (!first) { printf "row %d: no watermark band\n", row; exit 1 }
            for (i = last + 1; i <= n && !white(i); i++) ;
            if (i > n) { printf "row %d: band %d-%d, no white page after it\n", row, x[first], x[last]; exit 1 }
            at = i; greys = 0
            for (i = 5; i < first; i++) if (grey(i)) greys++
            for (i = last + 1; i < at; i++) if (grey(i)) greys++
            printf "row %d: band %d-%d, white from %d, %d grey\n", row, x[first], x[last], x[at], greys
            exit (greys > 2 || at - last > 4) ? 1 : 0
          }') || rc=1
    echo "$verdict"
  done
  return $rc
}
