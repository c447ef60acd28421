#!/usr/bin/env bash
# Renders the README gallery from a definition file: a still of each fractal and an animation.
#
#   scripts/render-gallery-pictures.sh [RENDERER] [INI] [OUTDIR]
#
# Writes OUTDIR/NN-name.png (one still per definition, named after the comment line above its
# header), OUTDIR/lumivex.gif (a few morph cycles) and docs/gallery.md (the README section); when
# README.md holds the markers <!-- gallery --> and <!-- /gallery -->, the section between them is
# replaced too.
set -euo pipefail

render=${1:-build/default/lumivex-render}
ini=${2:-resources/lumivex.ini}
out=${3:-docs/gallery}

still_size=320x240
movie_size=400x300
cycles=3
every=5  # 10 ms ticks: 20 frames a second
# The point count in the file is meant for a whole screen. Scaled by area, a small picture looks
# as dense as the saver does on a screen of these sizes: the stills like 800x600, the animation
# like 1024x768 (thinner, which keeps the GIF small).
still_reference=$((800 * 600))
movie_reference=$((1024 * 768))
# Every moving point costs the GIF about a byte a frame: a cap keeps it well under 1 MB.
movie_most_points=4000

[ -x "$render" ] || { echo "render-gallery-pictures: $render is missing; run make build first" >&2; exit 1; }
[ -f "$ini" ] || { echo "render-gallery-pictures: $ini is missing" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Split the file as the saver reads it: the point count is the first line that starts with an
# integer; a definition is a header line starting with a positive integer n, n map lines and a
# box line. The last comment line before a header names the fractal.
awk -v dir="$tmp" '
function startsInt(s) { return s ~ /^[ \t\v\f]*[-+]?[0-9]/ }
{ sub(/\r$/, "") }
state == 0 { if (startsInt($0)) { count = int($1); state = 1 } next }
state == 1 {
    if (startsInt($0) && int($1) >= 1) {
        defs++
        file = sprintf("%s/def-%02d.txt", dir, defs)
        names[defs] = name != "" ? name : "Fractal " defs
        name = ""
        print > file
        left = int($1) + 1
        state = 2
    } else if ($0 ~ /^[ \t]*[;#]/) {
        text = $0
        sub(/^[ \t]*[;#]+[ \t]*/, "", text)
        sub(/^[0-9]+\.[ \t]*/, "", text)   # "1. Barnsley fern: how it is built" names "Barnsley fern"
        sub(/:.*$/, "", text)
        sub(/[ \t]+$/, "", text)
        if (text != "") name = text
    }
    next
}
state == 2 { print > file; if (--left == 0) { close(file); state = 1 } }
END {
    print count + 0 > (dir "/count")
    for (i = 1; i <= defs; i++) print names[i] > (dir "/names")
}' "$ini"

count=$(cat "$tmp/count")
defs=$(ls "$tmp"/def-*.txt 2>/dev/null | wc -l)
[ "$defs" -gt 0 ] || { echo "render-gallery-pictures: no definitions in $ini" >&2; exit 1; }
magnitude=${count#-}

scaled() {  # the count for a picture of size $1 (WxH) as dense as on a screen of $2 pixels
    local w=${1%x*} h=${1#*x}
    echo $(((magnitude * w * h + $2 / 2) / $2))
}

mkdir -p "$tmp/out"
slugs=()
i=0
while IFS= read -r name; do
    i=$((i + 1))
    def=$(printf '%s/def-%02d.txt' "$tmp" "$i")
    slug=$(printf '%s' "$name" | tr '[:upper:]' '[:lower:]' | sed -e 's/[^a-z0-9]\{1,\}/-/g' -e 's/^-//' -e 's/-$//' | cut -c1-40)
    slug=$(printf '%02d-%s' "$i" "${slug:-fractal}")
    slugs+=("$slug")
    # A still without the status line: the first tick ends the opening morph at once (as the
    # saver's first tick does), the second shows the fractal held in its colour.
    { scaled "$still_size" "$still_reference"; cat "$def"; } > "$tmp/one.ini"
    "$render" --ini "$tmp/one.ini" --size "$still_size" --seed "$i" --start 5000 --ticks 2 --every 2 \
        --png "$tmp/still" >/dev/null
    mv "$tmp/still/frame-00001.png" "$tmp/out/$slug.png"
done < "$tmp/names"

# The animation: the whole file, its status line as the file sets it. Ticks: one that ends the
# opening morph, the hold (150 ticks of 10 ms), then per cycle pick, delta, a 3000 ms morph and
# a hold, ending on a held fractal.
points=$(scaled "$movie_size" "$movie_reference")
[ "$points" -gt "$movie_most_points" ] && points=$movie_most_points
[ "$count" -lt 0 ] && points=-$points
{ echo "$points"; cat "$tmp"/def-*.txt; } > "$tmp/all.ini"
ticks=$((151 + cycles * 452))
# A seed whose cycles show the most different fractals (the first definition is also pick 0).
best_seed=1
best=0
for seed in $(seq 1 40); do
    shown=$("$render" --ini "$tmp/all.ini" --size "$movie_size" --seed "$seed" --start 5000 --ticks "$ticks" --dump - |
        awk -F'"def":' '/"phase":4,/ { split($2, v, ","); d = v[1] + 0; if (d == 0) d = 1; seen[d] = 1 }
                        END { seen[1] = 1; n = 0; for (k in seen) n++; print n }')
    if [ "$shown" -gt "$best" ]; then best=$shown; best_seed=$seed; fi
    [ "$best" -ge $((cycles + 1)) ] && break
done
"$render" --ini "$tmp/all.ini" --size "$movie_size" --seed "$best_seed" --start 5000 --ticks "$ticks" \
    --every "$every" --gif "$tmp/out/lumivex.gif" >/dev/null

# Replace the old pictures only once all the new ones exist.
mkdir -p "$out"
rm -f "$out"/[0-9][0-9]-*.png "$out/lumivex.gif"
mv "$tmp"/out/* "$out/"

# The README section, with image paths relative to where it is read from.
section() {  # $1: the path from the reading file to the images
    local prefix=$1 n=0 columns=3 row=""
    echo "## Gallery"
    echo
    echo "**Try it in your browser**: \`make run-web\` builds the saver page and the playground and serves"
    echo "them on <http://127.0.0.1:8123/> (the playground: <http://127.0.0.1:8123/playground.html>); the"
    echo "folder it serves, or the web zip of a release, works on any static host. See"
    echo "[In the browser](#in-the-browser)."
    echo
    echo "![The playground: a definition file, the checker's report and the picture]($(dirname "$prefix")/playground.png)"
    echo
    echo "Lumivex morphing through the shipped definitions (\`make gallery\` renders these pictures with"
    echo "\`lumivex-render\` from \`$ini\`):"
    echo
    echo "![Lumivex morphing from fractal to fractal]($prefix/lumivex.gif)"
    echo
    echo "Each fractal of the file, as the saver holds it:"
    echo
    printf '|'; for ((c = 0; c < columns; c++)); do printf '   |'; done; echo
    printf '|'; for ((c = 0; c < columns; c++)); do printf ':-:|'; done; echo
    while IFS= read -r name; do
        local cell=${name//|/\\|}
        row+="| ![$cell]($prefix/${slugs[$n]}.png)<br>$cell "
        n=$((n + 1))
        if [ $((n % columns)) -eq 0 ]; then echo "$row|"; row=""; fi
    done < "$tmp/names"
    if [ -n "$row" ]; then
        while [ $((n % columns)) -ne 0 ]; do row+="|  "; n=$((n + 1)); done
        echo "$row|"
    fi
}
gallery_md=$(dirname "$out")/gallery.md
{
    echo "<!-- Written by scripts/render-gallery-pictures.sh (make gallery); README.md carries the same section. -->"
    echo
    section "$(basename "$out")"
} > "$gallery_md"

if [ -f README.md ] && grep -q '^<!-- gallery -->$' README.md && grep -q '^<!-- /gallery -->$' README.md; then
    section "$out" > "$tmp/section.md"
    awk -v section="$tmp/section.md" '
        /^<!-- gallery -->$/ { print; while ((getline line < section) > 0) print line; skip = 1; next }
        /^<!-- \/gallery -->$/ { skip = 0 }
        !skip' README.md > "$tmp/README.md"
    cat "$tmp/README.md" > README.md
    echo "render-gallery-pictures: README.md's gallery section updated"
fi

total=$(du -cb "$out"/[0-9][0-9]-*.png "$out/lumivex.gif" | tail -1 | cut -f1)
echo "render-gallery-pictures: $defs stills and lumivex.gif (seed $best_seed, $best fractals) in $out, $total bytes in all"
[ "$total" -le 1500000 ] || echo "render-gallery-pictures: warning: over 1.5 MB; lower movie_most_points or cycles" >&2
