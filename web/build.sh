#!/usr/bin/env bash
# Builds the browser page into build/web/site (or the folder given as $1): the static files of
# web/ and the converter compiled to WebAssembly with emscripten (amrconv.js + amrconv.wasm).
# The wasm module holds the project's own decoder, container and job sources, with
# web/amrconv_web.cpp as its entry points. Installs emscripten through apt-get when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install_deps.sh
install_missing_packages emscripten

site=${1:-build/web/site}
mkdir -p "$site"
# Debian's emscripten runs its JavaScript tools with the machine's node, which may not look
# in Debian's own module folder, where its parser (node-acorn) lives.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
# Debian's emscripten keeps its prebuilt system libraries in a read-only cache.
export EM_FROZEN_CACHE=1

# The decoder's own sources see its internal headers (AMRNBDEC_INTERNAL); the jobs, the
# container and the entry file see only its public interface, as in the native build.
# AMRCONV_WEB_CXXFLAGS adds flags, with the objects kept beside the site's folder
# (-DAMRCONV_WASM_SSE2_MAPPING: the SSE2 kernels alone, for bench/web_speed.mjs to compare).
# -flto: the decoder optimised across its files, as the native release build is (the small
# primitives inline into the stages); -mbulk-memory: memcpy and memset as single instructions.
# Together 7% fewer instructions per frame under V8 (43,408 against 40,530; README,
# Performance).
flags=(-std=c++20 -O3 -flto -Wall -Wextra -I. -msimd128 -msse2 -mbulk-memory)
# shellcheck disable=SC2206  # the extra flags split into words
flags+=(${AMRCONV_WEB_CXXFLAGS:-})
objects=()
obj=build/web/obj
if [ -n "${AMRCONV_WEB_CXXFLAGS:-}" ]; then obj=${site%/}.obj; fi
mkdir -p "$obj"
for f in amrdec/*.cpp amrdec/tables/*.cpp; do
  o=$obj/$(basename "${f%.cpp}").o
  emcc "${flags[@]}" -DAMRNBDEC_INTERNAL -c "$f" -o "$o"
  objects+=("$o")
done
sources=(web/amrconv_web.cpp)
for f in app/*.cpp container/*.cpp; do
  case "$f" in
    app/main.cpp | container/platform_win32.cpp) ;;  # the entry points are web/'s; not Windows
    *) sources+=("$f") ;;
  esac
done

# -msimd128 -msse2: the decoder's SIMD128 kernels, and its SSE2 kernels through emscripten's
# 128-bit SIMD mapping (every browser of the last years runs wasm SIMD). MODULARIZE: the worker and the Node test
# each create their own instance. No eval (DYNAMIC_EXECUTION=0), so the page's content
# security policy can forbid it.
emcc "${flags[@]}" \
  -sMODULARIZE=1 -sEXPORT_NAME=createAmrconvModule \
  -sENVIRONMENT=web,worker,node -sALLOW_MEMORY_GROWTH=1 -sDYNAMIC_EXECUTION=0 \
  -sFORCE_FILESYSTEM=1 -sEXPORTED_RUNTIME_METHODS=FS,ccall \
  -sEXPORTED_FUNCTIONS=_amrweb_run_job,_amrweb_survey,_amrweb_wrap_storage_file,_malloc,_free \
  "${sources[@]}" "${objects[@]}" -o "$site/amrconv.js"

cp web/index.html web/style.css web/icon.svg web/app.js web/worker.js web/converter.js "$site/"
echo "built $site"
