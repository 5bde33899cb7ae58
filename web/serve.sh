#!/usr/bin/env bash
# Builds the page and serves it on http://127.0.0.1:${PORT:-8000}/ until interrupted.
# Any static file server does as well: the page is the folder build/web/site.
set -euo pipefail
cd "$(dirname "$0")/.."
web/build.sh build/web/site
echo "serving build/web/site on http://127.0.0.1:${PORT:-8000}/ (Ctrl+C stops)"
exec python3 -m http.server --bind 127.0.0.1 --directory build/web/site "${PORT:-8000}"
