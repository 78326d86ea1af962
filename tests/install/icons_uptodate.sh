#!/bin/bash
# The committed desktop icons are what tools/assets/icons.py draws now. Exits 77 (skipped) when
# /usr/bin/python3 lacks numpy or PIL.
root=$(cd "$(dirname "$0")/../.." && pwd)
/usr/bin/python3 -c 'import numpy, PIL' 2>/dev/null || {
    echo "skipped: /usr/bin/python3 lacks numpy or PIL (python3-numpy, python3-pil)"
    exit 77
}
exec /usr/bin/python3 "$root/tools/assets/icons.py" --check "$root"
