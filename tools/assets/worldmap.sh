#!/usr/bin/env bash
# Builds the built-in world map from GSHHG coastlines and DCW country borders:
#   resources/maps/World.map  the picture shown (600 x 400, 24-bit BMP)
#   resources/maps/World.tac  the territory colours and the sea
# GMT draws every layer as PostScript on a Mercator grid four times the map's
# size; Ghostscript rasterises it without anti-aliasing, and world_compose.py
# turns the layers into the two bitmaps. The output is byte-for-byte
# reproducible. When OUTDIR is the resources/maps of a tree with docs/art, the
# picture's preview docs/art/world-map.png is written too.
#
# Debian packages: gmt gmt-gshhg-low gmt-dcw ghostscript python3-numpy python3-pil
#
# Usage: tools/assets/worldmap.sh [OUTDIR]   (default: resources/maps)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
outdir=$(mkdir -p "${1:-$root/resources/maps}" && cd "${1:-$root/resources/maps}" && pwd)

for tool in gmt gs /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "worldmap: $tool is missing" >&2; exit 1; }
done
dcw=$(gmt --show-sharedir)/dcw
[ -r "$dcw/dcw-countries.txt" ] || { echo "worldmap: gmt-dcw is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Keep GMT away from any personal settings and its history out of the tree.
export GMT_USERDIR=$work/user GMT_TMPDIR=$work GMT_SESSION_NAME=worldmap
mkdir -p user

# Mercator on a sphere, 360 degrees wide with the seam at 180, from 80 N down
# to the latitude that makes the picture exactly 3:2. At 400 dpi the 6 x 4 inch
# plot is 2400 x 1600 pixels, four times the map.
south=$(awk 'BEGIN { pi = atan2(0, -1); y = log(sin(85 * pi / 180) / cos(85 * pi / 180)) - 4 * pi / 3;
                    printf "%.10f", (2 * atan2(exp(y), 1) - pi / 2) * 180 / pi }')
proj=(-JM6i "-R-180/180/$south/80" -P -X0 -Y0 --PROJ_ELLIPSOID=Sphere --PS_MEDIA=6ix4i
      --MAP_ORIGIN_X=0 --MAP_ORIGIN_Y=0 --PS_LINE_CAP=round --PS_LINE_JOIN=round)

coast() { # coast NAME OPTION... : one GMT coast layer rasterised to NAME.ppm
    local name=$1
    shift
    gmt pscoast "${proj[@]}" "$@" > "$name.ps"
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r400 -g2400x1600 \
        -dGraphicsAlphaBits=1 -dTextAlphaBits=1 -sOutputFile="$name.ppm" "$name.ps"
}

# Territories. Russia is split at the Urals into its federal subjects; the four
# regions come out within a few per cent of each other in placement pixels:
#   red     Europe, European Russia, Kazakhstan, South Asia, China,
#           maritime South-East Asia, Oceania
#   blue    Asian Russia but Chukotka, Mongolia, Korea, Japan, mainland South-East Asia
#   yellow  North and Central America, the Caribbean, Chukotka across the Bering Strait
#   green   South America, Africa, the Middle East, Central Asia but Kazakhstan
# Each region's pieces lie close together, chained across narrow seas.
# Greenland, Antarctica, Svalbard and Heard Island are ice that nobody owns.
ru_asia="KGN SVE TYU KHM YAN CHE OMS TOM NVS ALT AL KEM KK TY KYA IRK BU ZAB SA AMU YEV KHA PRI SAK MAG KAM CHU"
mideast="AE BH CY IL IQ IR JO KW LB OM PS QA SA SY TR YE"
central_asia="UZ TM KG TJ AF AZ GE AM"
south_asia="IN PK NP BD LK BT MV IO"
china="CN TW"
east_asia="MN KP KR JP"
indochina="MM TH LA KH VN"
maritime_asia="ID MY PH TL BN SG CX"
north_america="CA US BM PM MX BZ GT SV HN NI CR PA"
caribbean="AI AG AW BS BB BQ KY CU CW DM DO GD GP HT JM MQ MS PR BL KN LC MF VC SX TT TC VG VI"
ice="GL AQ SJ HM"

continent() { # continent CODE... : the countries of those DCW continents
    awk -v want=" $* " 'index(want, " " $1 " ") { print $2 }' "$dcw/dcw-countries.txt"
}
russia() { # russia asia|europe : the federal subjects on one side of the Urals
    awk -v side="$1" -v asia=" $ru_asia " '$1 == "RU" {
        east = index(asia, " " $2 " ") > 0
        if ((side == "asia") == east) print "RU." $2 }' "$dcw/dcw-states.txt"
}
without() { # without "LIST" : the codes read that are not in LIST
    local skip=" $1 " code
    while read -r code; do [[ $skip == *" $code "* ]] || echo "$code"; done
}
joined() { tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }
listed() { tr -s ' ,' '\n'; }

red=$( { continent EU OC | without "RU $ice $mideast"; russia europe
         echo "KZ $south_asia $china $maritime_asia"; } | joined)
blue=$( { russia asia | without RU.CHU; echo "$east_asia $indochina"; } | joined)
yellow=$(echo "$north_america $caribbean RU.CHU" | joined)
green=$( { continent NA SA AF | without "$north_america $caribbean $ice"; echo "$mideast $central_asia"; } | joined)

# Every country belongs to one region or to the ice, and to one only.
unplaced=$( { continent AF AN AS EU NA OC SA | without RU
              echo "$red,$blue,$yellow,$green,$ice" | listed | grep -v '^RU\.'; } | sort | uniq -u)
twice=$(echo "$red,$blue,$yellow,$green" | listed | sort | uniq -d)
if [ -n "$unplaced$twice" ]; then
    echo "worldmap: in no region: ${unplaced:-none}; in two: ${twice:-none}" >&2
    exit 1
fi

# Region fills: red, blue, yellow, green; ice grey; white where no country is.
coast regions -Dl -E"$red"+g255/0/0 -E"$blue"+g0/0/255 -E"$yellow"+g255/255/0 -E"$green"+g0/255/0 \
    -E"$(echo "$ice" | joined)"+g128/128/128
# Land, lakes as land, islands of 100 km2 and more; then the lakes worth showing.
coast land -Dl -A100 -Gblack -Swhite -Cblack
coast lakes -Dl -A3000 -Gblack -Sblack -Cwhite
# Lines, black on white: shorelines, lake shores, national borders, rivers.
coast shore -Dl -A100 -W1/0.55p,black
coast lakeshore -Dl -A3000 -W2/0.45p,black
coast borders -Dl -A100 -N1/0.4p,black -Swhite
coast rivers -Dl -A3000 -I1/0.4p,black -Swhite

previews=$(dirname "$(dirname "$outdir")")/docs/art
[ -d "$previews" ] || previews=
/usr/bin/python3 "$here/world_compose.py" "$work" "$outdir" ${previews:+"$previews"}
