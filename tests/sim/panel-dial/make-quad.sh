#!/bin/sh
# Writes Quad.map and Quad.tac, the small map pair of the panel-* and turns-* scenarios, into each
# folder given: red and blue land above a band of sea (y 170-229), yellow and green land below it.
# RLE-compressed 8-bit bitmaps, a few kilobytes each. Needs ImageMagick's convert.
#   tests/sim/panel-dial/make-quad.sh tests/sim/panel-* tests/sim/turns-*
set -eu
for dir in "$@"; do
    convert -size 600x400 xc:'#00FFFF' \
        -fill '#FF0000' -draw 'rectangle 0,0 299,169' -fill '#0000FF' -draw 'rectangle 300,0 599,169' \
        -fill '#FFFF00' -draw 'rectangle 0,230 299,399' -fill '#00FF00' -draw 'rectangle 300,230 599,399' \
        -type Palette -compress RLE "BMP3:$dir/Quad.tac"
    convert -size 600x400 xc:'#203060' \
        -fill '#306828' -draw 'rectangle 0,0 599,169' -draw 'rectangle 0,230 599,399' \
        -fill '#508840' -draw 'rectangle 290,0 309,169' -draw 'rectangle 290,230 309,399' \
        -fill '#c8c090' -draw 'rectangle 0,168 599,171' -draw 'rectangle 0,228 599,231' \
        -type Palette -compress RLE "BMP3:$dir/Quad.map"
done
